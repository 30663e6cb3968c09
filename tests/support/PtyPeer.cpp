// SPDX-License-Identifier: MIT
#include "support/PtyPeer.h"

#include "sim/server/PtyPair.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <sys/ioctl.h>
#include <unistd.h>

PtyPeer::PtyPeer(QObject *parent) : QObject(parent)
{
    PtyPair pty = openPtyPair(O_NONBLOCK);
    if (!pty.ok())
        return;
    m_master = pty.master;
    m_slaveKeep = pty.keeper;
    m_slavePath = QString::fromStdString(pty.slavePath);
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
