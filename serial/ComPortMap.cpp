#include "serial/ComPortMap.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <algorithm>

namespace {
ComPortMap::SimulatorProvider &simProvider()
{
    static ComPortMap::SimulatorProvider p;
    return p;
}

ComPortMap::DeviceLister &deviceLister()
{
    static ComPortMap::DeviceLister l;
    return l;
}

QList<SystemDevice> listSystemDevices()
{
    if (deviceLister())
        return deviceLister()();
    QList<SystemDevice> out;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        QStringList parts;
        if (!info.description().isEmpty())
            parts << info.description();
        if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer()))
            parts << info.manufacturer();
        if (!info.serialNumber().isEmpty())
            parts << QStringLiteral("S/N %1").arg(info.serialNumber());
        out.append({info.systemLocation(), parts.join(QStringLiteral(", "))});
    }
    // A stable order: natural sort of the device path (ttyS2 before ttyS10,
    // ttyACM before ttyS before ttyUSB).
    QCollator coll;
    coll.setNumericMode(true);
    std::sort(out.begin(), out.end(),
              [&](const SystemDevice &a, const SystemDevice &b) { return coll.compare(a.path, b.path) < 0; });
    return out;
}
} // namespace

ComPortMap &ComPortMap::instance()
{
    static ComPortMap map;
    return map;
}

ComPortMap::ComPortMap()
{
    m_system = listSystemDevices();
    rebuildDefaults();
}

void ComPortMap::rebuildDefaults()
{
    for (int i = 0; i < PortCount; ++i) {
        ComEntry &e = m_entries[i];
        if (e.userChosen)
            continue;
        e = ComEntry{};
        if (i < m_system.size()) {
            e.kind = ComEntry::Device;
            e.path = m_system[i].path;
            e.description = m_system[i].description;
        } else if (i == 0 && m_system.isEmpty() && simulatorAvailable()) {
            // No hardware at all: COM 1 opens the simulated converter, so the
            // program can be tried without a serial line.
            e.kind = ComEntry::Simulator;
        }
    }
}

ComEntry ComPortMap::entry(int number) const
{
    if (number < 1 || number > PortCount)
        return {};
    return m_entries[number - 1];
}

void ComPortMap::setDevice(int number, const QString &path)
{
    if (number < 1 || number > PortCount)
        return;
    ComEntry &e = m_entries[number - 1];
    const QString p = path.trimmed();
    if (p.isEmpty()) {
        e = ComEntry{};
        rebuildDefaults();
        return;
    }
    e.kind = ComEntry::Device;
    e.path = p;
    e.description.clear();
    for (const SystemDevice &d : m_system)
        if (d.path == p)
            e.description = d.description;
    e.userChosen = true;
}

void ComPortMap::setSimulator(int number)
{
    if (number < 1 || number > PortCount)
        return;
    ComEntry &e = m_entries[number - 1];
    e = ComEntry{};
    e.kind = ComEntry::Simulator;
    e.userChosen = true;
}

void ComPortMap::refresh()
{
    m_system = listSystemDevices();
    rebuildDefaults();
}

void ComPortMap::reset()
{
    for (ComEntry &e : m_entries)
        e = ComEntry{};
    refresh();
}

QString ComPortMap::resolve(int number, QString *error) const
{
    const ComEntry e = entry(number);
    // Each open decides afresh whether the line goes to the simulator.
    m_simulatorPath.clear();
    switch (e.kind) {
    case ComEntry::Device:
        return e.path;
    case ComEntry::Simulator:
        if (!simProvider()) {
            if (error)
                *error = QStringLiteral("the simulated converter is not available");
            return {};
        }
        m_simulatorPath = simProvider()(error);
        return m_simulatorPath;
    case ComEntry::None:
        break;
    }
    if (error)
        *error = QStringLiteral("no serial device is assigned to COM %1 (choose one in the port dialog)").arg(number);
    return {};
}

bool ComPortMap::isSimulatorDevice(const QString &path) const
{
    return !path.isEmpty() && path == m_simulatorPath;
}

QString ComPortMap::displayText(int number) const
{
    const ComEntry e = entry(number);
    switch (e.kind) {
    case ComEntry::Device:
        return e.description.isEmpty() ? e.path : QStringLiteral("%1  (%2)").arg(e.path, e.description);
    case ComEntry::Simulator:
        return simulatorName();
    case ComEntry::None:
        break;
    }
    return QStringLiteral("(no device)");
}

void ComPortMap::setSimulatorProvider(SimulatorProvider provider)
{
    simProvider() = std::move(provider);
}

bool ComPortMap::simulatorAvailable()
{
    return static_cast<bool>(simProvider());
}

QString ComPortMap::simulatorName()
{
    return QStringLiteral("Simulated Orna");
}

void ComPortMap::setDeviceLister(DeviceLister lister)
{
    deviceLister() = std::move(lister);
}
