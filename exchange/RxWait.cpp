// SPDX-License-Identifier: MIT
#include "exchange/RxWait.h"

#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <algorithm>

RxResult ReplyWait(PortObject &port, const QList<QByteArray> &terminators, qint64 limit, const WaitHooks &hooks)
{
    RxResult r;
    qsizetype longest = 1;
    for (const QByteArray &t : terminators)
        longest = std::max(longest, t.size());
    for (;;) {
        if (hooks.stop && hooks.stop()) {
            r.status = RxStatus::Aborted;
            return r;
        }
        if (!port.PortOpen()) {
            r.status = RxStatus::PortClosed;
            return r;
        }
        if (hooks.pace)
            hooks.pace(port);
        if (hooks.pump)
            hooks.pump();
        // The window's events may have asked the program to end: nothing is
        // read after that, so nothing more is judged or written.
        if (hooks.stop && hooks.stop()) {
            r.status = RxStatus::Aborted;
            return r;
        }
        const QByteArray in = port.Input();
        ++r.polls;
        bool found = false;
        if (!in.isEmpty()) {
            // Only the new bytes and the tail they may complete need a look.
            const qsizetype from = std::max<qsizetype>(0, r.buffer.size() - (longest - 1));
            r.buffer += in;
            found = ContainsAny(r.buffer.mid(from), terminators);
        }
        if (r.polls > limit) {
            r.status = RxStatus::Timeout;
            return r;
        }
        if (found) {
            r.status = RxStatus::Received;
            return r;
        }
        if (r.buffer.size() > kReceiveBound) {
            r.status = RxStatus::Overflow;
            return r;
        }
        // Nothing came and nothing is buffered (Input took it all): block
        // until something happens, counting the time as idle polls.
        if (in.isEmpty() && hooks.block && port.waitMayBlock()) {
            const qint64 maxIdle = limit - r.polls;
            if (maxIdle > 0)
                r.polls += std::clamp<qint64>(hooks.block(maxIdle), 0, maxIdle);
        }
    }
}
