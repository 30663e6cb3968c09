// SPDX-License-Identifier: MIT
#include "support/PtyPeer.h"

#include "serial/PortObject.h"
#include "sim/server/PtyPair.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
// What was asked of each terminal device, by device number.
std::mutex requestsLock;
std::map<dev_t, termios> &requests()
{
    static std::map<dev_t, termios> r;
    return r;
}

// Takes into the record the line settings a request changes. Qt sets one
// parameter at a time, each time on the settings it reads back, and a
// pseudo-terminal resets the character size and parity at once: only a
// parameter that differs from what the device holds is one the caller asked for.
void takeChanges(termios &record, const termios &asked, const termios &held)
{
    if (::cfgetospeed(&asked) != ::cfgetospeed(&held))
        ::cfsetospeed(&record, ::cfgetospeed(&asked));
    for (const tcflag_t bits : {tcflag_t(CSIZE), tcflag_t(PARENB | PARODD), tcflag_t(CSTOPB), tcflag_t(CRTSCTS)})
        if ((asked.c_cflag & bits) != (held.c_cflag & bits))
            record.c_cflag = (record.c_cflag & ~bits) | (asked.c_cflag & bits);
    const tcflag_t flow = IXON | IXOFF | IXANY;
    if ((asked.c_iflag & flow) != (held.c_iflag & flow))
        record.c_iflag = (record.c_iflag & ~flow) | (asked.c_iflag & flow);
}
} // namespace

// Every tcsetattr of the test program, Qt SerialPort's included, passes here
// on its way to the C library: what it asks of a terminal is recorded.
extern "C" int tcsetattr(int fd, int action, const struct termios *t) noexcept
{
    using Fn = int (*)(int, int, const struct termios *);
    static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "tcsetattr"));
    termios held{};
    struct stat st{};
    const bool terminal = t && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && ::tcgetattr(fd, &held) == 0;
    const int result = real(fd, action, t);
    if (result == 0 && terminal) {
        const std::lock_guard<std::mutex> lock(requestsLock);
        const auto it = requests().find(st.st_rdev);
        if (it == requests().end())
            requests()[st.st_rdev] = *t;
        else
            takeChanges(it->second, *t, held);
    }
    return result;
}

PtyPeer::PtyPeer(QObject *parent) : QObject(parent)
{
    PtyPair pty = openPtyPair(O_NONBLOCK);
    if (!pty.ok())
        return;
    m_master = pty.master;
    m_slaveKeep = pty.keeper;
    m_slavePath = QString::fromStdString(pty.slavePath);
    struct stat st{};
    if (::stat(pty.slavePath.c_str(), &st) == 0) {
        m_device = st.st_rdev;
        const std::lock_guard<std::mutex> lock(requestsLock);
        requests().erase(st.st_rdev); // the peer's own settings are not the program's
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPeer::readable);
}

PtyPeer::~PtyPeer()
{
    hangUp();
}

void PtyPeer::pump()
{
    readable();
}

void PtyPeer::readable()
{
    if (m_master < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        const QByteArray chunk(buf, int(n));
        m_received += chunk;
        if (onData)
            onData(chunk);
    }
}

void PtyPeer::clearExclusive()
{
    if (m_slaveKeep >= 0)
        ::ioctl(m_slaveKeep, TIOCNXCL);
}

void PtyPeer::setReading(bool reading)
{
    if (m_notifier)
        m_notifier->setEnabled(reading);
}

void PtyPeer::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
}

void PtyPeer::writeQueued(const QByteArray &bytes)
{
    m_queue += bytes;
    if (!m_writeNotifier && m_master >= 0) {
        m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyPeer::writable);
    }
    writable();
}

void PtyPeer::writable()
{
    while (m_master >= 0 && !m_queue.isEmpty()) {
        const ssize_t n = ::write(m_master, m_queue.constData(), size_t(m_queue.size()));
        if (n <= 0)
            break;
        m_queue.remove(0, n);
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_queue.isEmpty());
}

void PtyPeer::hangUp()
{
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_slaveKeep >= 0) {
        ::close(m_slaveKeep);
        m_slaveKeep = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

QString PtyPeer::requestedLine() const
{
    termios t{};
    {
        const std::lock_guard<std::mutex> lock(requestsLock);
        const auto it = requests().find(m_device);
        if (m_device == 0 || it == requests().end())
            return {};
        t = it->second;
    }
    static const std::map<speed_t, int> rates{{B1200, 1200},   {B2400, 2400},   {B4800, 4800},  {B9600, 9600},
                                              {B19200, 19200}, {B38400, 38400}, {B57600, 57600}};
    const auto rate = rates.find(::cfgetospeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    QString line = QStringLiteral("%1 %2%3%4")
                       .arg(rate == rates.end() ? QStringLiteral("?") : QString::number(rate->second))
                       .arg(size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5)
                       .arg(!(t.c_cflag & PARENB) ? QLatin1Char('N') : (t.c_cflag & PARODD) ? QLatin1Char('O') : QLatin1Char('E'))
                       .arg(t.c_cflag & CSTOPB ? 2 : 1);
    if (t.c_cflag & CRTSCTS)
        line += QStringLiteral(" rtscts");
    if (t.c_iflag & (IXON | IXOFF))
        line += QStringLiteral(" xonxoff");
    return line;
}

QByteArray readPortFor(PortObject &port, qsizetype want, int quietMs)
{
    QByteArray got;
    QElapsedTimer quiet;
    quiet.start();
    while (got.size() < want && quiet.elapsed() < quietMs) {
        port.waitForInput(1000);
        const QByteArray in = port.Input();
        if (!in.isEmpty())
            quiet.restart();
        got += in;
    }
    return got;
}
