# SPDX-License-Identifier: MIT
# Installation and the Debian package.
#
#   cmake --install build --prefix ~/.local        # as a user
#   (cd build && cpack -G DEB)                     # ornasertest_<version>_<arch>.deb
#
# Installed: the program, orna-run and orna-sim, their manual pages, a desktop entry
# with its icons, the AppStream metainfo, and the documentation in
# share/doc/ornasertest (with the copyright and the changelog a Debian
# package carries there).

# The documentation folder is named after the package, not the project
# (unless given on the command line).
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "share/doc/ornasertest")
endif()
include(GNUInstallDirs)

install(TARGETS ornasertest orna-run orna-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and the changelog, compressed without a time stamp so the
# package builds the same every time.
find_program(ORNA_GZIP gzip REQUIRED)
set(ORNA_GZIPPED)
foreach(src packaging/man/ornasertest.1 packaging/man/orna-run.1 packaging/man/orna-sim.1 packaging/debian/changelog)
  get_filename_component(name ${src} NAME)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND ${ORNA_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${src} > ${out}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${src}
    VERBATIM)
  list(APPEND ORNA_GZIPPED ${out})
endforeach()
add_custom_target(packaging-files ALL DEPENDS ${ORNA_GZIPPED})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/ornasertest.1.gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/orna-run.1.gz
              ${CMAKE_CURRENT_BINARY_DIR}/packaging/orna-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES packaging/ornasertest.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/com.vek.ornasertest.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 64 128 256)
  install(FILES packaging/icons/ornasertest-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ornasertest.png)
endforeach()

# The README keeps its links: docs/ and sim/tool/ stand beside it as in the tree.
install(FILES README.md packaging/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES sim/tool/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/sim/tool)
install(DIRECTORY plans/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/plans)

# ---- The Debian package (cpack -G DEB)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ornasertest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The OrnaSerTest developers")
set(CPACK_PACKAGE_CONTACT "OrnaSerTest maintainers <ornasertest@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench test utility for the Orna protocol converter")
# The synopsis above, then this as the extended description.
set(CPACK_PACKAGE_DESCRIPTION "OrnaSerTest drives an Orna protocol converter over one RS-232 line in its
three languages (SCPI, ANSI X3.28 and an Xon/Xoff line protocol): it frames
typed commands and queries, shows every exchange byte for byte, switches the
converter between its languages, loads and reads back its ANSI command table
and repeats commands and queries on a timer.

A simulated converter is built in, so the program can be tried without
hardware; orna-sim serves the same simulator on a pseudo-terminal for any
serial tool.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies from the binaries (dpkg-shlibdeps); the platform
# plugins are loaded at run time, so no library names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The Help button hands the help file to xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
