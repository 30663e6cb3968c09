// SPDX-License-Identifier: MIT
#include "sim/SimulatedLine.h"

#include "serial/ComPortMap.h"
#include "serial/LineSettings.h"
#include "serial/PortSelection.h"
#include "sim/server/SimHost.h"

#include <QCoreApplication>

#include <memory>

namespace {
std::unique_ptr<SimHost> &host()
{
    static std::unique_ptr<SimHost> h;
    return h;
}

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

void installSimulatedLine()
{
    if (!host()) {
        host() = makeHost();
        // The thread must end before the application object goes away.
        if (QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { removeSimulatedLine(); });
    }
    ComPortMap::setSimulatorProvider([](QString *error) -> QString {
        if (!host())
            host() = makeHost();
        followChosenFormat(*host());
        return host()->start(error);
    });
    ComPortMap::instance().applyDefaults();
}

SimHost *simulatedLineHost()
{
    return host().get();
}

void removeSimulatedLine()
{
    ComPortMap::setSimulatorProvider({});
    host().reset();
    // Without the simulator no number defaults to it any more.
    ComPortMap::instance().applyDefaults();
}
