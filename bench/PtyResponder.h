// SPDX-License-Identifier: MIT
#pragma once
// The far end of a pseudo-terminal on a thread of its own, for benchmarks:
// answers each complete line the program writes with a fixed reply, and
// notes when the reply's last byte went out.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

class PtyResponder
{
public:
    using Clock = std::chrono::steady_clock;
    // reply(line) gives the bytes to answer a line ending in terminator, or
    // an empty string for silence.
    PtyResponder(char terminator, std::function<std::string(const std::string &)> reply);
    ~PtyResponder();

    const std::string &slavePath() const { return m_slavePath; }
    Clock::time_point lastReplyEnd() const { return Clock::time_point(Clock::duration(m_lastReplyEnd.load())); }

private:
    void run();

    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_slavePath;
    char m_terminator;
    std::function<std::string(const std::string &)> m_reply;
    std::atomic<bool> m_stop{false};
    std::atomic<Clock::rep> m_lastReplyEnd{0};
    std::thread m_thread;
};
