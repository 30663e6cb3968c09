// SPDX-License-Identifier: MIT
#pragma once
// Where the Help button looks for the help file OrnaSer_Kybd_help.chm.

#include <QString>
#include <QStringList>

// The folders searched, in order: the current directory (where the file was
// always looked for), then the program's data folder "ornasertest" in the
// user's and the system's data directories (~/.local/share,
// /usr/local/share, /usr/share, as XDG_DATA_HOME and XDG_DATA_DIRS say),
// then <prefix>/share/ornasertest beside the installed program. A program
// started from the desktop menu runs in the home directory and still finds
// a file installed for it.
QStringList helpFolders();

// The first help file found in those folders; empty when there is none.
QString findHelpFile();

QString helpFileName();
