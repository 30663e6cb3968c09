// SPDX-License-Identifier: MIT
#pragma once
// Writing the bench record's files without harming anything else in the
// folder: a new file is created new (never through a link, never over a file
// that exists), and a file the user chose to replace is replaced whole by a
// new one renamed into its place, so a link under its name is replaced, not
// followed. Failures are told in the system's own words.

#include <QByteArray>
#include <QString>

namespace SafeFile {
// Creates `path` as a new file for writing. When the name is taken (by a
// file, a link or anything else) the next free one of "name-2.ext",
// "name-3.ext" ... is used. Returns the descriptor (close-on-exec) and sets
// *created, or returns -1 with *error set.
int createNew(const QString &path, QString *created, QString *error);
// Writes all of `data`; false with *error set to the system's reason.
bool writeAll(int fd, const QByteArray &data, QString *error);
// Writes `data` into a new file in the folder of `path`, hands it to the
// disk and renames it to `path`, replacing what had that name. The mode is
// that of the replaced regular file, or the usual one for a new file.
bool replace(const QString &path, const QByteArray &data, QString *error);
} // namespace SafeFile
