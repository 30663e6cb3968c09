// SPDX-License-Identifier: MIT
#include "support/PtyPeer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer(QObject *parent) : QObject(parent)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    termios t{};
    ::tcgetattr(m_master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_master, TCSANOW, &t);
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    // Hold the slave open too, so the master sees no hang-up before the
    // program opens it.
    m_slaveKeep = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slaveKeep >= 0) {
        termios s{};
        ::tcgetattr(m_slaveKeep, &s);
        ::cfmakeraw(&s);
        ::tcsetattr(m_slaveKeep, TCSANOW, &s);
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

void PtyPeer::hangUp()
{
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
