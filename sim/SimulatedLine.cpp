#include "sim/SimulatedLine.h"

#include "serial/ComPortMap.h"
#include "sim/server/SimHost.h"

#include <QCoreApplication>

#include <memory>

namespace {
std::unique_ptr<SimHost> &host()
{
    static std::unique_ptr<SimHost> h;
    return h;
}
} // namespace

void installSimulatedLine()
{
    if (!host()) {
        host() = std::make_unique<SimHost>(SimConfig());
        // The thread must end before the application object goes away.
        if (QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { removeSimulatedLine(); });
    }
    ComPortMap::setSimulatorProvider([](QString *error) -> QString {
        if (!host())
            host() = std::make_unique<SimHost>(SimConfig());
        return host()->start(error);
    });
    ComPortMap::instance().refresh();
}

SimHost *simulatedLineHost()
{
    return host().get();
}

void removeSimulatedLine()
{
    ComPortMap::setSimulatorProvider({});
    host().reset();
}
