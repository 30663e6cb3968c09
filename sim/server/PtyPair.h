// SPDX-License-Identifier: MIT
#pragma once
// A pseudo-terminal to serve a line on: the master side for the server, the
// slave's path for the program to open, and a keeper descriptor on the
// slave, so that the master sees no hang-up before (or between) the
// program's opens. Both sides raw: no echo, no CR/LF translation, no
// signals. Used by the simulator's server, the tests' peers and the
// benchmarks' responders.

#include <string>

struct PtyPair
{
    int master = -1;
    int keeper = -1;       // the slave, held open
    std::string slavePath; // e.g. "/dev/pts/4"
    std::string error;     // why it could not be opened; empty when it was

    bool ok() const { return master >= 0 && keeper >= 0; }
    // Closes both sides (the far end sees the line hang up).
    void close();
};

// masterFlags: extra open flags of the master (O_NONBLOCK, O_CLOEXEC).
PtyPair openPtyPair(int masterFlags);
