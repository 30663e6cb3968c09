// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QCoreApplication>

// The reply wait. Each poll waits briefly for input (so a wait with no answer
// leaves the processor mostly idle and still wakes as soon as a byte comes),
// lets the window process its events, reads all pending input and counts.
// The count bounds the wait: a count above the limit is a timeout, even when
// the awaited byte came with that last poll.
RxResult frmMain::RxWait(const QList<QByteArray> &terminators, qint64 limit)
{
    RxResult r;
    qsizetype longest = 1;
    for (const QByteArray &t : terminators)
        longest = std::max(longest, t.size());
    for (;;) {
        if (m_exitRequested) {
            r.status = RxStatus::Aborted;
            return r;
        }
        if (!MSComm1->PortOpen()) {
            r.status = RxStatus::PortClosed;
            return r;
        }
        MSComm1->waitForInput(pollPacingMicros);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const QByteArray in = MSComm1->Input();
        ++r.polls;
        bool found = false;
        if (!in.isEmpty()) {
            // Only the new bytes and the tail they may complete need a look.
            const qsizetype from = std::max<qsizetype>(0, r.buffer.size() - (longest - 1));
            r.buffer += in;
            const QByteArray window = r.buffer.mid(from);
            found = ContainsAny(window, terminators);
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
    }
}

void frmMain::drainInput()
{
    if (MSComm1->PortOpen())
        MSComm1->Input();
}

void frmMain::writeOut(const QByteArray &frame)
{
    OutStr = frame;
    MSComm1->Output(frame);
}

bool frmMain::reportWaitFailure(const RxResult &r)
{
    switch (r.status) {
    case RxStatus::Received:
    case RxStatus::Timeout:
        return false;
    case RxStatus::Overflow:
        reportError(QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the awaited "
                                   "reply; the exchange was ended")
                        .arg(kReceiveBound));
        return true;
    case RxStatus::PortClosed:
        reportError(m_lossMessage.isEmpty()
                        ? QStringLiteral("The COM port was closed during the exchange.")
                        : m_lossMessage + QStringLiteral("; the port is closed."));
        return true;
    case RxStatus::Aborted:
        return true; // the program is ending; nothing to show
    }
    return false;
}
