// SPDX-License-Identifier: MIT
#pragma once
// Result of the reply wait: the bytes collected, how many polls it took and
// why it ended.

#include <QByteArray>

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
