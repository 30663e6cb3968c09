// SPDX-License-Identifier: MIT
#include "PtyResponder.h"

#include "sim/server/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyResponder::PtyResponder(char terminator, std::function<std::string(const std::string &)> reply)
    : m_terminator(terminator), m_reply(std::move(reply))
{
    const PtyPair pty = openPtyPair(0);
    m_master = pty.master;
    m_slaveKeep = pty.keeper;
    m_slavePath = pty.slavePath;
    m_thread = std::thread([this] { run(); });
}

PtyResponder::~PtyResponder()
{
    m_stop = true;
    m_thread.join();
    ::close(m_slaveKeep);
    ::close(m_master);
}

void PtyResponder::run()
{
    std::string line;
    char buf[4096];
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            line += buf[i];
            if (buf[i] != m_terminator)
                continue;
            const std::string answer = m_reply(line);
            line.clear();
            size_t done = 0;
            while (done < answer.size()) {
                const ssize_t w = ::write(m_master, answer.data() + done, answer.size() - done);
                if (w <= 0)
                    break;
                done += size_t(w);
            }
            if (!answer.empty())
                m_lastReplyEnd = Clock::now().time_since_epoch().count();
        }
    }
}
