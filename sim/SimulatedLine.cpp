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

// A "once" drop is spent when it strikes: the fresh converter that the next
// open starts must not drop again at its first reply.
std::unique_ptr<SimHost> makeHost()
{
    auto h = std::make_unique<SimHost>(SimConfig());
    SimServer *server = h->server();
    QObject::connect(
        server, &SimServer::lineDropped, server,
        [server] {
            bool byFault = false;
            server->withEngine([&](OrnaEngine &e) { byFault = e.lineDropped(); });
            SimFaults f = server->faults();
            if (byFault && f.drop.mode == SimTrigger::Once) {
                f.drop = SimTrigger::off();
                server->changeFaults(f);
            }
        },
        Qt::DirectConnection);
    return h;
}
} // namespace

SimulatedLine::SimulatedLine(ComPortMap &map) : m_map(map), m_host(makeHost())
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
