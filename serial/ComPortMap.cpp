// SPDX-License-Identifier: MIT
#include "serial/ComPortMap.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <algorithm>

namespace {
// The stable names udev gives serial devices, by the device each names.
QHash<QString, QString> byIdNames()
{
    QHash<QString, QString> names;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    const auto links = dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

QList<SystemDevice> listSystemDevices()
{
    QList<SystemDevice> out;
    const auto byId = byIdNames();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        QStringList parts;
        if (!info.description().isEmpty())
            parts << info.description();
        if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer()))
            parts << info.manufacturer();
        if (!info.serialNumber().isEmpty())
            parts << QStringLiteral("S/N %1").arg(info.serialNumber());
        const QString path = info.systemLocation();
        out.append({path, parts.join(QStringLiteral(", ")), byId.value(QFileInfo(path).canonicalFilePath())});
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

ComPortMap::ComPortMap(DeviceLister lister) : m_lister(std::move(lister))
{
    refresh();
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
        } else if (i == m_system.size() && simulatorAvailable()) {
            // The first number after the system's devices opens the simulated
            // converter, so the program can be tried without a converter on
            // any machine (most report a built-in /dev/ttyS0 with nothing on it).
            e.kind = ComEntry::Simulator;
        }
    }
}

QList<int> ComPortMap::simulatorNumbers() const
{
    QList<int> numbers;
    for (int n = 1; n <= PortCount; ++n)
        if (m_entries[n - 1].kind == ComEntry::Simulator)
            numbers.append(n);
    return numbers;
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
    // The path as given, blanks included: it names a file.
    const QString &p = path;
    if (p.isEmpty()) {
        e = ComEntry{};
        rebuildDefaults();
        return;
    }
    e.kind = ComEntry::Device;
    e.path = p;
    e.description.clear();
    for (const SystemDevice &d : m_system)
        if (d.path == p || (!d.byId.isEmpty() && d.byId == p))
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
    m_system = m_lister ? m_lister() : listSystemDevices();
    ++m_reads;
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
        if (!m_simulator) {
            if (error)
                *error = QStringLiteral("the simulated converter is not available");
            return {};
        }
        m_simulatorPath = m_simulator(error);
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

QString ComPortMap::deviceText(const SystemDevice &device, bool byIdName)
{
    QString text = byIdName ? device.byId : device.path;
    if (!device.description.isEmpty())
        text += QStringLiteral("  (%1)").arg(device.description);
    if (byIdName)
        text += QStringLiteral("  = %1").arg(device.path);
    else if (!device.byId.isEmpty())
        text += QStringLiteral("  by-id: %1").arg(QFileInfo(device.byId).fileName());
    return text;
}

QString ComPortMap::displayText(int number) const
{
    const ComEntry e = entry(number);
    switch (e.kind) {
    case ComEntry::Device:
        for (const SystemDevice &d : m_system) {
            if (d.path == e.path)
                return deviceText(d);
            if (!d.byId.isEmpty() && d.byId == e.path)
                return deviceText(d, true);
        }
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
    m_simulator = std::move(provider);
    rebuildDefaults();
}

QString ComPortMap::simulatorName()
{
    return QStringLiteral("Simulated Orna");
}

