// SPDX-License-Identifier: MIT
#pragma once
// The program's command line, as every Linux program answers it: --help and
// --version print and end the program; nothing else is taken. Qt's own
// options (-platform, -style ...) are taken by the application object before
// the arguments come here.

#include <QStringList>

#include <optional>

// The arguments as the application object left them. --help, --help-all
// and --version print to standard output and end the program with status
// 0. Returns 2, after a message on standard error, for an option the program
// does not take or any other argument; empty when the window is to start.
std::optional<int> answerCommandLine(const QStringList &arguments);
