// SPDX-License-Identifier: MIT
#pragma once
// The reply wait over the port object interface: polls, each giving the
// window its turn and reading all pending input, until a terminator is in
// the buffer or the count passes the limit. What a poll does besides
// reading comes in through hooks, so the wait needs no window. Its result:
// the bytes collected, how many polls it took and why it ended.

#include <QByteArray>
#include <QList>

#include <functional>

enum class RxStatus {
    Received,   // a terminator is in the buffer within the poll limit
    Timeout,    // the poll count passed the limit
    Overflow,   // the peer sent more than the receive bound without a terminator
    PortClosed, // the port was closed or lost during the wait
    Aborted     // the program is ending
};

struct RxResult
{
    QByteArray buffer;
    qint64 polls = 0;
    RxStatus status = RxStatus::Timeout;

    bool ok() const { return status == RxStatus::Received; }
};

// Poll limits of the waits.
inline constexpr qint64 kReplyPollLimit = 30000;
inline constexpr qint64 kPromptPollLimit = 10000;
// A wait keeps at most this many bytes; more ends it as an overflow.
inline constexpr qint64 kReceiveBound = 64 * 1024;

// What every reply wait that runs out of polls reports.
inline constexpr char kNoResponseMessage[] = "Receive timeout error - no response from UUT";

class PortObject;

struct WaitHooks
{
    // Before each poll: lets the poll wait briefly for input (pacing).
    std::function<void(PortObject &)> pace;
    // After a poll that found nothing, when the port may block: waits until
    // input arrives, a window event or a timer is due, or `maxIdle` idle polls'
    // time has passed; returns how many whole idle polls' time it spent
    // blocked. Those count as polls that found nothing; the next poll is a
    // real one.
    std::function<qint64(qint64 maxIdle)> block;
    // Once per poll: processes the window's pending events.
    std::function<void()> pump;
    // Checked before each poll and again after its events ran, before the
    // read: true ends the wait as aborted (the program is ending).
    std::function<bool()> stop;
};

// A count above the limit is a timeout, even when the awaited bytes came
// with that last poll; the count never exceeds limit + 1, and the poll that
// reaches limit + 1 is always a real one (idle polls stop at the limit). A wait ends early
// when the port closes (PortClosed), when the buffer passes the receive
// bound without a terminator (Overflow), or when the stop hook says so.
RxResult ReplyWait(PortObject &port, const QList<QByteArray> &terminators, qint64 limit, const WaitHooks &hooks);
