// SPDX-License-Identifier: MIT
#include "serial/QtSerialPortObject.h"

#include "serial/ComPortMap.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

QtSerialPortObject::QtSerialPortObject(QObject *parent) : PortObject(parent)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPortObject::onError);
    connect(&m_port, &QSerialPort::readyRead, this, &PortObject::inputArrived);
    // Unbounded, Qt's buffer grows by a block of its own for every arrival
    // while nothing reads: a trickle of bytes on an idle line costs
    // megabytes within minutes. Bounded, Qt leaves the rest in the driver.
    m_port.setReadBufferSize(kReadBufferBytes);
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
    // The device was claimed a moment ago (DeviceClaim has looked at the
    // path, the lock files, the kind of device and the permissions), so what
    // refuses now changed meanwhile, or is the line itself.
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no such device");
    case QSerialPort::PermissionError: {
        // Qt's word for a lock file it could not take, a device in
        // exclusive use and a refused open alike: tell them apart.
        if (const DeviceClaim::LockHolder held = DeviceClaim::lockFileHolder(path); !held.holder.isEmpty())
            return QStringLiteral("the device is in use by another program: %1 holds its lock file %2")
                .arg(held.holder, held.file);
        const DeviceClaim::StaleLock stale = DeviceClaim::staleLockFile(path);
        if (!stale.file.isEmpty())
            return QStringLiteral("the device has a stale lock file: %1 names process %2, which no longer runs, "
                                  "and this user may not remove it; remove it (sudo rm %1)")
                .arg(stale.file)
                .arg(stale.pid);
        if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) != 0 &&
            (errno == EACCES || errno == EPERM))
            return DeviceClaim::permissionProblem(path);
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
    m_partlyWritten = 0;
    if (!m_port.isOpen()) {
        m_error = QStringLiteral("the port is closed");
        return false;
    }
    if (m_lost || m_lossQueued) {
        m_error = QStringLiteral("the line was lost while writing");
        return false;
    }
    if (data.isEmpty())
        return true;
    // Straight to the driver (the descriptor does not block), past Qt's own
    // write buffer: the bytes are on their way before the caller goes on,
    // and a driver that takes no more is seen here, not later. Qt would keep
    // what the driver refused and send it whenever the far end reads again,
    // and call the full buffer a resource error, its name for a vanished
    // device too.
    const int fd = int(m_port.handle());
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        const int err = n < 0 ? errno : EIO;
        m_partlyWritten = done;
        QString reason;
        if (deviceGone(&reason)) {
            // Closed once, outside the caller's write: the bytes did not leave.
            queueLoss(reason);
            m_error = QStringLiteral("the line was lost while writing");
        } else {
            m_error = QString::fromLocal8Bit(std::strerror(err));
        }
        return false;
    }
    if (done < data.size()) {
        m_partlyWritten = done;
        // The driver's buffer is full: the far end has stopped reading (or
        // holds the line back). What it did not take is never sent; the line
        // stays open and takes writes again once the far end reads.
        m_error = done == 0 ? QStringLiteral("the write could not be queued (the far end has stopped reading and "
                                             "takes no more bytes); the line stays open")
                            : QStringLiteral("the write could not be queued whole (the far end has stopped reading: "
                                             "%1 of its %2 bytes went out, the rest never will); the line stays open")
                                  .arg(done)
                                  .arg(data.size());
        return false;
    }
    return true;
}

QByteArray QtSerialPortObject::Input()
{
    if (!m_port.isOpen())
        return {};
    // What the window's events moved into Qt's buffer (at most its bound),
    // then what the driver holds besides, so a read returns everything
    // pending. A paced poll has just looked at the device; otherwise look now.
    const Readiness seen = m_readiness;
    m_readiness = Readiness::Unknown;
    QByteArray got = m_port.readAll();
    const int fd = int(m_port.handle());
    if (fd < 0 || seen == Readiness::Idle)
        return got;
    if (seen == Readiness::Unknown) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return got;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            readDriver(fd, got);
            QString reason;
            deviceGone(&reason);
            markLost(reason);
            return got;
        }
        if (!(p.revents & POLLIN))
            return got;
    }
    readDriver(fd, got);
    return got;
}

void QtSerialPortObject::flushInput()
{
    if (m_port.isOpen() && !m_lost)
        m_port.clear(QSerialPort::Input);
}

void QtSerialPortObject::readDriver(int fd, QByteArray &into)
{
    // Qt's buffer is empty now and Qt reads only when events run, so the
    // driver can be read directly (the descriptor does not block).
    char buf[4096];
    qint64 taken = 0;
    while (taken < kReadAtOnce) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, n);
            taken += n;
            if (size_t(n) < sizeof buf)
                break; // took all there was
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // nothing more now (EAGAIN), or a hang-up the next look confirms
    }
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
    // Only a hang-up that poll() confirms is a loss. Qt repeats read errors
    // while the device is gone, and gives a full transmit buffer the same
    // code as a vanished device (ResourceError): Output reports that one.
    QString reason;
    if (!deviceGone(&reason))
        return;
    // Close once, outside this signal.
    queueLoss(reason);
}

void QtSerialPortObject::queueLoss(const QString &reason)
{
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
