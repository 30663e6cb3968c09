// SPDX-License-Identifier: MIT
#include "session/ExitSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeEnds[2] = {-1, -1};
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int signo)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &b, 1);
    errno = saved;
}
} // namespace

ExitSignals::ExitSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::readPipe);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // The handler serves once; a second signal takes its default course.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int s : kSignals)
        ::sigaction(s, &sa, nullptr);
}

ExitSignals::~ExitSignals()
{
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    delete m_notifier;
    for (int &fd : pipeEnds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ExitSignals::readPipe()
{
    unsigned char b = 0;
    while (::read(pipeEnds[0], &b, 1) == 1) {
        if (m_received)
            continue;
        m_received = b;
        emit exitRequested(b);
    }
}
