// SPDX-License-Identifier: MIT
#pragma once
// Which device each port number (COM 1 to COM 6) opens. By default COM 1,
// COM 2, ... are the serial devices the system reports, in a stable order,
// and the first number after them opens the built-in simulated converter
// (so there is always one that does while fewer than six devices exist).
// The user may point any number at any device path (a pseudo-terminal, a
// /dev/serial/by-id/ name) or at the simulator, for the rest of the session.
// Nothing is saved.

#include <QList>
#include <QString>
#include <array>
#include <functional>

struct ComEntry
{
    enum Kind { None, Device, Simulator };
    Kind kind = None;
    QString path;        // device path, for Kind Device
    QString description; // what the system says of the device, may be empty
    bool userChosen = false;
};

// A serial device the system reports.
struct SystemDevice
{
    QString path;
    QString description;
    QString byId = {}; // its /dev/serial/by-id/ name (stable across replugging), if it has one
};

class ComPortMap
{
public:
    static constexpr int PortCount = 6;

    // Where the list of the system's serial devices comes from (tests and
    // the fuzz targets give their own instead of the hardware's).
    using DeviceLister = std::function<QList<SystemDevice>()>;
    // The simulator registers how to start itself and return its device path.
    using SimulatorProvider = std::function<QString(QString *error)>;

    // Reads the list once, from the lister or, without one, from the system.
    explicit ComPortMap(DeviceLister lister = {});

    ComEntry entry(int number) const;
    // Points a port number at a device path, or back to the system's default
    // when the path is empty.
    void setDevice(int number, const QString &path);
    void setSimulator(int number);
    // Reads the system's device list afresh; user choices are kept.
    void refresh();
    // How many times the system's device list has been read.
    int systemReads() const { return m_reads; }
    // The system's devices as last read.
    QList<SystemDevice> systemDevices() const { return m_system; }

    // The device path to open for a port number. For the simulator this starts
    // it (once) through the provider. Empty with *error set when there is none.
    QString resolve(int number, QString *error) const;
    // True when the device path is the one the simulator gave at the last
    // resolve(): the line opened with it goes to the simulator, not to
    // hardware. (Pseudo-terminal paths are reused, so an older one is no proof.)
    bool isSimulatorDevice(const QString &path) const;
    // Text shown beside a port button: device and description, or the simulator.
    QString displayText(int number) const;
    // The same for one of the system's devices (or its by-id name).
    static QString deviceText(const SystemDevice &device, bool byIdName = false);
    // The port numbers that open the simulator now, in order.
    QList<int> simulatorNumbers() const;

    // An empty provider: no simulator (the defaults follow at once).
    void setSimulatorProvider(SimulatorProvider provider);
    bool simulatorAvailable() const { return static_cast<bool>(m_simulator); }
    static QString simulatorName();

    // Replaces where the device list comes from; read at the next refresh().
    void setDeviceLister(DeviceLister lister) { m_lister = std::move(lister); }

    // Forgets every user choice and reads the system list again.
    void reset();

private:
    void rebuildDefaults();

    DeviceLister m_lister;
    SimulatorProvider m_simulator;

    std::array<ComEntry, PortCount> m_entries;
    QList<SystemDevice> m_system;
    int m_reads = 0;
    mutable QString m_simulatorPath; // what the simulator last gave to open
};
