// SPDX-License-Identifier: MIT
#include "sim/SimulatedLine.h"

#include "serial/ComPortMap.h"
#include "serial/LineSettings.h"
#include "serial/PortSelection.h"
#include "sim/server/SimHost.h"

#include <memory>

namespace {
// The simulator cannot read parity or 7-bit framing back from its
// pseudo-terminal; it takes them from the settings the line is opened with.
void followChosenFormat(SimHost &h)
{
    const auto chosen = parseLineSettings(PortSettings);
    if (!chosen)
        return;
    SimLineFormat line;
    line.baud = chosen->baud;
    line.dataBits = chosen->dataBits;
    line.parity = chosen->parity;
    line.stopBits = chosen->stopBits;
    h.server()->setLineFormat(line);
}
} // namespace

SimulatedLine::SimulatedLine(ComPortMap &map) : m_map(map), m_host(std::make_unique<SimHost>(SimConfig()))
{
    m_map.setSimulatorProvider([this](QString *error) -> QString {
        followChosenFormat(host());
        return host().start(error);
    });
}

SimulatedLine::~SimulatedLine()
{
    // Without the simulator no number defaults to it any more.
    m_map.setSimulatorProvider({});
}
