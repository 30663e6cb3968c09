// SPDX-License-Identifier: MIT
#include "serial/QtSerialPortObject.h"

#include "serial/ComPortMap.h"

#include <QFileInfo>
#include <QTimer>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>

QtSerialPortObject::QtSerialPortObject(QObject *parent) : PortObject(parent)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPortObject::onError);
}

QtSerialPortObject::~QtSerialPortObject()
{
    closePort();
}

void QtSerialPortObject::closePort()
{
    if (m_port.isOpen())
        m_port.close();
    m_claim.release();
}

bool QtSerialPortObject::Settings(const QString &settings)
{
    QString why;
    const auto parsed = parseLineSettings(settings, &why);
    if (!parsed) {
        m_error = why;
        return false;
    }
    m_settings = *parsed;
    m_settingsText = settings;
    m_haveSettings = true;
    return true;
}

bool QtSerialPortObject::PortOpen(bool open)
{
    if (!open) {
        closePort();
        return true;
    }
    if (m_port.isOpen())
        return true;
    QString why;
    const QString path = m_map ? m_map->resolve(m_commPort, &why) : QString();
    if (!m_map)
        why = QStringLiteral("no port mapping");
    if (path.isEmpty()) {
        m_device.clear();
        m_error = QStringLiteral("COM %1 could not be opened: %2").arg(m_commPort).arg(why);
        return false;
    }
    const bool ok = openDevice(path);
    if (!ok)
        m_error = QStringLiteral("COM %1 (%2) could not be opened: %3").arg(m_commPort).arg(path, m_error);
    return ok;
}

bool QtSerialPortObject::openDevice(const QString &path)
{
    m_device = path;
    if (!m_haveSettings) {
        m_error = QStringLiteral("no line settings were given");
        return false;
    }
    m_lost = false;
    m_lossQueued = false;
    // The device behind any link, claimed before it is opened: a program
    // holding it is named, and nothing of its line is touched.
    QString why;
    if (!m_claim.claim(path, &why)) {
        m_error = why;
        return false;
    }
    // Pseudo-terminals are not listed by the system, so the port is opened by
    // name: the resolved one, so that QSerialPort's lock file is named after
    // the device, not after a link to it. Line parameters go in before
    // open(): set afterwards they fail on devices that cannot do them.
    m_port.setPortName(m_claim.device());
    m_port.setBaudRate(m_settings.baud);
    m_port.setDataBits(m_settings.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    m_port.setParity(m_settings.parity == 'O'   ? QSerialPort::OddParity
                     : m_settings.parity == 'E' ? QSerialPort::EvenParity
                                                : QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_error = describeOpenFailure(m_port.error(), m_claim.device());
        m_port.clearError();
        m_claim.release();
        return false;
    }
    // No other program may open the device while the line is ours (root
    // excepted); QSerialPort asks for it too, without checking the answer.
    ::ioctl(int(m_port.handle()), TIOCEXCL);
    // Bytes that arrived while the port was closed are not part of any exchange.
    m_port.clear();
    m_port.clearError();
    m_error.clear();
    return true;
}

QString QtSerialPortObject::describeOpenFailure(QSerialPort::SerialPortError error, const QString &path) const
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no such device");
    case QSerialPort::PermissionError: {
        // The device was claimed a moment ago, so what refuses now is a lock
        // file taken meanwhile, or the device itself.
        const QString holder = DeviceClaim::lockFileHolder(path);
        if (!holder.isEmpty())
            return QStringLiteral("the device is in use by another program: %1 holds its lock file %2")
                .arg(holder, DeviceClaim::lockFilePath(path));
        return QStringLiteral("the device is in use by another program");
    }
    case QSerialPort::OpenError:
        return QStringLiteral("the port is already open");
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("the device does not support these line settings");
    default:
        break;
    }
    const QString s = m_port.errorString();
    return s.isEmpty() ? QStringLiteral("open failed") : s;
}

void QtSerialPortObject::RTSEnable(bool on)
{
    // A pseudo-terminal has no modem lines; that is no reason to fail.
    if (m_port.isOpen() && !m_port.setRequestToSend(on))
        m_port.clearError();
}

void QtSerialPortObject::DTREnable(bool on)
{
    if (m_port.isOpen() && !m_port.setDataTerminalReady(on))
        m_port.clearError();
}

bool QtSerialPortObject::Output(const QByteArray &data)
{
    if (!m_port.isOpen()) {
        m_error = QStringLiteral("the port is closed");
        return false;
    }
    if (data.isEmpty())
        return true;
    if (m_port.write(data) != data.size()) {
        m_error = m_port.errorString();
        m_port.clearError();
        return false;
    }
    // Hand the bytes to the driver now, without waiting for the event loop:
    // callers may busy-wait right afterwards.
    m_port.flush();
    // A write that found the device gone closes the port (once, reported by
    // portLost); the bytes did not leave.
    if (!m_port.isOpen() || m_lost || m_lossQueued) {
        m_error = QStringLiteral("the line was lost while writing");
        return false;
    }
    return true;
}

QByteArray QtSerialPortObject::Input()
{
    if (!m_port.isOpen())
        return {};
    // Qt moves bytes into its buffer only when events run; take what the
    // driver holds now as well, so a read returns everything pending. A
    // paced poll has just looked at the device; otherwise look now.
    const Readiness seen = m_readiness;
    m_readiness = Readiness::Unknown;
    const int fd = int(m_port.handle());
    if (seen == Readiness::Unknown && fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                QByteArray rest = m_port.readAll();
                QString reason;
                deviceGone(&reason);
                markLost(reason);
                return rest;
            }
            if ((p.revents & POLLIN) && m_port.bytesAvailable() == 0)
                m_port.waitForReadyRead(0);
        }
    } else if (seen == Readiness::Readable && m_port.bytesAvailable() == 0) {
        m_port.waitForReadyRead(0);
    }
    return m_port.readAll();
}

void QtSerialPortObject::waitForInput(int maxMicroseconds)
{
    m_readiness = Readiness::Unknown;
    if (!m_port.isOpen() || m_port.bytesAvailable() > 0)
        return;
    const int fd = int(m_port.handle());
    if (fd < 0)
        return;
    // The default 50 us of timer slack would stretch every short wait by half.
    static thread_local bool slackSet = (::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0), true);
    Q_UNUSED(slackSet);
    pollfd p{fd, POLLIN, 0};
    timespec ts{0, long(maxMicroseconds) * 1000L};
    const int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
        QString reason;
        deviceGone(&reason);
        markLost(reason);
        return;
    }
    if (n >= 0)
        m_readiness = (n > 0 && (p.revents & POLLIN)) ? Readiness::Readable : Readiness::Idle;
}

bool QtSerialPortObject::deviceGone(QString *reason) const
{
    const int fd = int(m_port.handle());
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & POLLNVAL) {
        if (reason)
            *reason = QStringLiteral("the device handle became invalid");
        return true;
    }
    if (p.revents & (POLLHUP | POLLERR)) {
        if (reason)
            *reason = QFileInfo::exists(m_device) ? QStringLiteral("the far end hung up")
                                                  : QStringLiteral("the device was removed");
        return true;
    }
    return false;
}

void QtSerialPortObject::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
        error == QSerialPort::UnsupportedOperationError)
        return;
    if (!m_port.isOpen() || m_lost)
        return;
    // Qt repeats read errors while the device is gone; confirm the loss and
    // close once, outside this signal.
    QString reason;
    const bool gone = error == QSerialPort::ResourceError || deviceGone(&reason);
    if (!gone)
        return;
    if (reason.isEmpty())
        reason = QStringLiteral("the device was removed");
    if (m_lossQueued)
        return;
    m_lossQueued = true;
    QTimer::singleShot(0, this, [this, reason] { markLost(reason); });
}

void QtSerialPortObject::markLost(const QString &reason)
{
    if (m_lost || !m_port.isOpen())
        return;
    m_lost = true;
    closePort();
    m_port.clearError();
    emit portLost(reason);
}
