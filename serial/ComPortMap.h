#pragma once
// Which device each port number (COM 1 to COM 6) opens. By default COM 1,
// COM 2, ... are the serial devices the system reports, in a stable order;
// the user may point any number at any device path (a pseudo-terminal, say)
// or at the built-in simulated converter, for the rest of the session.
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
};

class ComPortMap
{
public:
    static constexpr int PortCount = 6;

    static ComPortMap &instance();

    ComEntry entry(int number) const;
    // Points a port number at a device path, or back to the system's default
    // when the path is empty.
    void setDevice(int number, const QString &path);
    void setSimulator(int number);
    // Reads the system's device list afresh; user choices are kept.
    void refresh();
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

    // The simulator registers how to start itself and return its device path.
    using SimulatorProvider = std::function<QString(QString *error)>;
    static void setSimulatorProvider(SimulatorProvider provider);
    static bool simulatorAvailable();
    static QString simulatorName();

    // Replaces the system's device list (tests use it instead of the hardware).
    using DeviceLister = std::function<QList<SystemDevice>()>;
    static void setDeviceLister(DeviceLister lister);

    // Forgets every user choice and reads the system list again.
    void reset();

private:
    ComPortMap();
    void rebuildDefaults();

    std::array<ComEntry, PortCount> m_entries;
    QList<SystemDevice> m_system;
    mutable QString m_simulatorPath; // what the simulator last gave to open
};
