// SPDX-License-Identifier: MIT
#include "sim/server/SimServer.h"

#include "sim/server/PtyPair.h"

#include <QMutexLocker>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
struct BaudCode {
    speed_t code;
    int baud;
};
constexpr BaudCode baudCodes[] = {
    {B300, 300}, {B600, 600}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};

int baudOf(speed_t code)
{
    for (const BaudCode &b : baudCodes)
        if (b.code == code)
            return b.baud;
    return 0;
}

speed_t codeOf(int baud)
{
    for (const BaudCode &b : baudCodes)
        if (b.baud == baud)
            return b.code;
    return B9600;
}

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

SimServer::SimServer(const SimConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_timer(this)
{
    qRegisterMetaType<SimFrame>();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SimServer::pump);
    m_clock.start();
}

SimServer::~SimServer()
{
    stop();
}

double SimServer::now() const
{
    return double(m_clock.nsecsElapsed()) / 1e9;
}

bool SimServer::start(QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        closeLine();
        return false;
    };
    if (isServing())
        return true;

    PtyPair pty = openPtyPair(O_NONBLOCK | O_CLOEXEC);
    m_master = pty.master;
    m_slaveKeeper = pty.keeper;
    if (!pty.ok())
        return fail(QString::fromStdString(pty.error));
    const QString path = QString::fromStdString(pty.slavePath);
    if (::chmod(pty.slavePath.c_str(), 0600) != 0)
        return fail(errnoText("chmod slave"));

    // The line rate the replies are paced at; the program sets its own when
    // it opens the port.
    QMutexLocker lock(&m_mutex);
    termios tio{};
    if (::tcgetattr(m_slaveKeeper, &tio) != 0) {
        lock.unlock();
        return fail(errnoText("tcgetattr"));
    }
    ::cfsetispeed(&tio, codeOf(m_config.line.baud));
    ::cfsetospeed(&tio, codeOf(m_config.line.baud));
    if (::tcsetattr(m_slaveKeeper, TCSANOW, &tio) != 0) {
        lock.unlock();
        return fail(errnoText("tcsetattr"));
    }

    const double t = now();
    m_path = path;
    // A fresh converter keeps the switches as the last one left them.
    if (m_engine)
        m_config.faults = m_engine->faults();
    m_engine = std::make_unique<OrnaEngine>(m_config, t);
    m_engine->setFrameHook([this](const SimFrame &f) { m_pendingFrames.append(f); });
    m_pendingFrames.append({SimFrame::Note, t, {},
                            QStringLiteral("serving on %1 at %2 baud %3").arg(path).arg(m_config.line.baud).arg(m_config.line.formatName())});
    lock.unlock();

    m_writeBuffer.clear();
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimServer::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimServer::onWritable);
    emitPending();
    return true;
}

void SimServer::stop()
{
    closeLine();
}

void SimServer::closeLine()
{
    m_timer.stop();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    m_master = m_slaveKeeper = -1;
    m_writeBuffer.clear();
    m_unsentDropped = 0;
    QMutexLocker lock(&m_mutex);
    m_path.clear();
}

QString SimServer::devicePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_path;
}

bool SimServer::isServing() const
{
    QMutexLocker lock(&m_mutex);
    return !m_path.isEmpty();
}

void SimServer::setFaults(const SimFaults &faults)
{
    QMutexLocker lock(&m_mutex);
    m_config.faults = faults;
    if (m_engine)
        m_engine->setFaults(faults);
}

void SimServer::changeFaults(const SimFaults &faults)
{
    QMutexLocker lock(&m_mutex);
    m_config.faults = faults;
    if (m_engine)
        m_engine->changeFaults(faults);
}

SimFaults SimServer::faults() const
{
    QMutexLocker lock(&m_mutex);
    // The engine's: a "once" switch that struck is off there.
    return m_engine ? m_engine->faults() : m_config.faults;
}

void SimServer::setTurnaroundMs(double ms)
{
    if (!std::isfinite(ms))
        return;
    QMutexLocker lock(&m_mutex);
    m_config.turnaroundMs = qMax(0.0, ms);
    if (m_engine)
        m_engine->setTurnaroundMs(ms);
}

double SimServer::turnaroundMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_config.turnaroundMs;
}

void SimServer::setBusyMs(double ms)
{
    if (!std::isfinite(ms))
        return;
    QMutexLocker lock(&m_mutex);
    m_config.busyMs = qMax(0.0, ms);
    if (m_engine)
        m_engine->setBusyMs(ms);
}

void SimServer::setLineFormat(const SimLineFormat &line)
{
    QMutexLocker lock(&m_mutex);
    if (line.baud <= 0)
        return;
    m_config.line = line;
    if (m_engine)
        m_engine->setLineFormat(line);
}

SimLineFormat SimServer::lineFormat() const
{
    QMutexLocker lock(&m_mutex);
    return m_engine ? m_engine->lineFormat() : m_config.line;
}

void SimServer::dropLine()
{
    QMetaObject::invokeMethod(this, [this] {
        if (m_master >= 0)
            hangUp(QStringLiteral("line dropped on request"));
    }, Qt::QueuedConnection);
}

void SimServer::withEngine(const std::function<void(OrnaEngine &)> &fn)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_engine)
            fn(*m_engine);
    }
    // Frames logged meanwhile go out on the server's own thread.
    QMetaObject::invokeMethod(this, [this] { emitPending(); }, Qt::QueuedConnection);
}

// The baud rate the program set on its side of the line.
void SimServer::followPortBaud(double t)
{
    if (!m_config.followPortBaud)
        return;
    termios tio{};
    if (::tcgetattr(m_master, &tio) != 0)
        return;
    const int baud = baudOf(::cfgetospeed(&tio));
    if (baud <= 0 || baud == m_engine->lineFormat().baud)
        return;
    SimLineFormat line = m_engine->lineFormat();
    line.baud = baud;
    m_engine->setLineFormat(line);
    m_config.line.baud = baud;
    m_pendingFrames.append({SimFrame::Note, t, {},
                            QStringLiteral("line rate %1 baud %2, as set on the port").arg(baud).arg(line.formatName())});
}

void SimServer::onReadable()
{
    QByteArray received;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            received.append(buf, n);
            // At most a buffer's worth per wake-up: a host that sends
            // without pause never holds the event loop (and a request to
            // end) up for long; the notifier fires again while more waits.
            if (received.size() >= qsizetype(sizeof buf))
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // End of file or EIO: nobody holds the slave open. The keeper makes
        // this unlikely; pause the notifier so it does not spin.
        m_readNotifier->setEnabled(false);
        QTimer::singleShot(100, this, [this] {
            if (m_readNotifier)
                m_readNotifier->setEnabled(true);
        });
        break;
    }
    if (received.isEmpty())
        return;
    {
        QMutexLocker lock(&m_mutex);
        const double t = now();
        followPortBaud(t);
        m_engine->receive(received, t);
    }
    pump();
}

void SimServer::onWritable()
{
    m_writeNotifier->setEnabled(false);
    flushWrites();
}

// Writes whatever is due and sleeps until the next byte is.
void SimServer::pump()
{
    if (m_master < 0)
        return;
    QList<SimOut> due;
    double next = 0.0;
    {
        QMutexLocker lock(&m_mutex);
        due = m_engine->takeDue(now());
        next = m_engine->nextDueTime();
    }
    for (const SimOut &out : std::as_const(due)) {
        if (out.hangUp) {
            hangUp(QString());
            return;
        }
        queueWrite(out.bytes);
    }
    flushWrites();
    emitPending();
    if (std::isfinite(next)) {
        // Whole milliseconds; a time beyond a timer's range is looked at
        // again when that range has passed.
        const double ms = std::ceil((next - now()) * 1000.0);
        m_timer.start(ms <= 0 ? 0 : int(std::min(ms, double(std::numeric_limits<int>::max()))));
    }
}

// Bytes for the line. While the program does not read, the line takes
// nothing and at most kMaxUnsent bytes wait here; the rest is lost, as
// bytes sent to a receiver that does not read are.
void SimServer::queueWrite(const QByteArray &bytes)
{
    const qsizetype room = std::max<qsizetype>(0, kMaxUnsent - m_writeBuffer.size());
    m_writeBuffer += bytes.left(room);
    if (bytes.size() > room)
        m_unsentDropped += bytes.size() - room;
}

void SimServer::flushWrites()
{
    while (!m_writeBuffer.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_writeBuffer.constData(), size_t(m_writeBuffer.size()));
        if (n > 0) {
            m_writeBuffer.remove(0, n);
            if (m_unsentDropped > 0) {
                QMutexLocker lock(&m_mutex);
                m_pendingFrames.append({SimFrame::Note, now(), {},
                                        QStringLiteral("the program did not read: %1 bytes for it were lost")
                                            .arg(m_unsentDropped)});
                m_unsentDropped = 0;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            // The program is not reading: wait until the line takes more.
            m_writeNotifier->setEnabled(true);
            return;
        } else {
            m_writeBuffer.clear();
            return;
        }
    }
}

void SimServer::hangUp(const QString &why)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!why.isEmpty())
            m_pendingFrames.append({SimFrame::Note, now(), {}, why});
    }
    closeLine();
    emitPending();
    emit lineDropped();
}

void SimServer::emitPending()
{
    QList<SimFrame> frames;
    {
        QMutexLocker lock(&m_mutex);
        frames.swap(m_pendingFrames);
    }
    for (const SimFrame &f : std::as_const(frames))
        emit frameLogged(f);
}
