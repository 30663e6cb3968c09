// SPDX-License-Identifier: MIT
#pragma once
// The port object over Qt SerialPort: bytes pass unchanged both ways, no flow
// control, RTS and DTR asserted where the device has them. The device is
// claimed as Linux serial programs expect (DeviceClaim) and held in exclusive
// mode while open; a port held by another program is reported with its name.
//
// Bytes that arrive while nothing reads cost at most kReadBufferBytes in the
// port's buffer; what comes beyond waits in the driver, whose own buffer is
// bounded too (a serial driver drops what overruns it, a pseudo-terminal
// holds its writer back). inputArrived() says when bytes came, so that the
// owner reads them as they come; Input() takes both buffers, and
// flushInput() empties the driver's. A far end that stops reading fills the transmit
// side: a write the driver cannot take is refused (what it did not take is
// never sent), the line stays open.
// Only a hang-up confirmed by poll() closes the port.

#include "serial/DeviceClaim.h"
#include "serial/LineSettings.h"
#include "serial/PortObject.h"

#include <QSerialPort>

class QtSerialPortObject : public PortObject
{
    Q_OBJECT
public:
    // What Qt keeps of unread input, at most.
    static constexpr qint64 kReadBufferBytes = 4096;
    // One Input() takes at most about this much from the driver.
    static constexpr qint64 kReadAtOnce = 256 * 1024;

    explicit QtSerialPortObject(QObject *parent = nullptr);
    ~QtSerialPortObject() override;

    void CommPort(int number) override { m_commPort = number; }
    int CommPort() const override { return m_commPort; }
    bool Settings(const QString &settings) override;
    QString Settings() const override { return m_settingsText; }
    void InputLen(int len) override { m_inputLen = len; }
    bool PortOpen() const override { return m_port.isOpen(); }
    bool PortOpen(bool open) override;
    void RTSEnable(bool on) override;
    void DTREnable(bool on) override;
    bool Output(const QByteArray &data) override;
    QByteArray Input() override;
    void flushInput() override;
    QString errorText() const override { return m_error; }
    qsizetype partlyWritten() const override { return m_partlyWritten; }
    QString deviceName() const override { return m_device; }
    QString openNote() const override { return m_claim.note(); }
    void waitForInput(int maxMicroseconds) override;
    bool waitMayBlock() const override { return m_port.isOpen() && !m_lost; }
    void usePortMap(ComPortMap *map) override { m_map = map; }

    // Opens a device path directly, bypassing the port-number mapping.
    bool openDevice(const QString &path);

private:
    void onError(QSerialPort::SerialPortError error);
    // Closes the port once and tells the window, when the device is gone.
    void markLost(const QString &reason);
    // True when the device reports a hang-up or error (checked with poll()).
    bool deviceGone(QString *reason = nullptr) const;
    QString describeOpenFailure(QSerialPort::SerialPortError error, const QString &path) const;
    void closePort();
    // The loss confirmed: the port closes and portLost is emitted once, from
    // the event loop (not within the write or signal that found it).
    void queueLoss(const QString &reason);
    // Appends what the driver holds, as far as it goes without waiting.
    void readDriver(int fd, QByteArray &into);

    QSerialPort m_port;
    ComPortMap *m_map = nullptr;
    DeviceClaim m_claim; // the device's lock, held while the port is open
    int m_commPort = 0;
    int m_inputLen = 0;
    QString m_settingsText;
    LineSettings m_settings;
    bool m_haveSettings = false;
    QString m_device;
    QString m_error;
    qsizetype m_partlyWritten = 0; // of the last Output(), when it failed
    bool m_lost = false;
    // What the last paced wait saw of the device, so the read that follows
    // needs no second look.
    enum class Readiness { Unknown, Idle, Readable };
    Readiness m_readiness = Readiness::Unknown;
    bool m_lossQueued = false;
};
