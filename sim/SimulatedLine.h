// SPDX-License-Identifier: MIT
#pragma once
// The built-in simulated converter as a choice of the port dialog: served on
// a pseudo-terminal on a thread of its own inside the program, and opened
// through the same serial code as hardware. While the object lives, the
// port mapping offers "Simulated Orna" (the first COM number after the
// system's devices opens it).

#include <memory>

class ComPortMap;
class SimHost;

class SimulatedLine
{
public:
    explicit SimulatedLine(ComPortMap &map);
    ~SimulatedLine();
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    // The simulator behind the line; its thread starts with the first open.
    SimHost &host() { return *m_host; }

private:
    ComPortMap &m_map;
    std::unique_ptr<SimHost> m_host;
};
