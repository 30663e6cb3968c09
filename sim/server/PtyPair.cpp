// SPDX-License-Identifier: MIT
#include "sim/server/PtyPair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
bool makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}
} // namespace

void PtyPair::close()
{
    if (keeper >= 0)
        ::close(keeper);
    if (master >= 0)
        ::close(master);
    keeper = master = -1;
}

PtyPair openPtyPair(int masterFlags)
{
    PtyPair p;
    const auto fail = [&p](const char *what) {
        p.error = std::string(what) + ": " + std::strerror(errno);
        p.close();
        return p;
    };
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | masterFlags);
    if (p.master < 0)
        return fail("posix_openpt");
    if (::grantpt(p.master) != 0)
        return fail("grantpt");
    if (::unlockpt(p.master) != 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(p.master, name, sizeof name) != 0)
        return fail("ptsname_r");
    p.slavePath = name;
    p.keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.keeper < 0)
        return fail("open slave");
    // On Linux the master's settings calls act on the slave's settings; both
    // are set, so either side reads them raw.
    if (!makeRaw(p.keeper) || !makeRaw(p.master))
        return fail("tcsetattr");
    return p;
}
