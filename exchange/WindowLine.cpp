// SPDX-License-Identifier: MIT
// The main window's side of the exchanges: the reply wait with the window's
// event processing, the writes with their failure reports, and the
// ExchangeHost steps that show an exchange in the transcript, the error box
// and the window's state.

#include "app/frmMain.h"

#include "serial/MonitoredPort.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <climits>

RxResult frmMain::RxWait(const QList<QByteArray> &terminators, qint64 limit)
{
    WaitHooks hooks;
    if (pollPacingMicros > 0 && MSComm1->waitMayBlock())
        hooks.block = [this](qint64 maxIdle) { return blockIdle(maxIdle); };
    else
        hooks.pace = [this](PortObject &port) { port.waitForInput(pollPacingMicros); };
    hooks.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
    hooks.stop = [this] { return m_line.stopWaits(); };
    const MonitoredPort::WaitScope waiting(*m_tap);
    return ReplyWait(*MSComm1, terminators, limit, hooks);
}

// The time between the event dispatcher's going to sleep and its waking is
// what the line stood idle; a timer at the end of the allowed polls bounds
// it. Window events and the port's read notifier wake it early, and the
// events are handled within (a click is refused, a loop tick skipped).
qint64 frmMain::blockIdle(qint64 maxIdle)
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return 0;
    const qint64 slotNs = qint64(pollPacingMicros) * 1000;
    QElapsedTimer clock;
    qint64 blockedNs = 0;
    bool blocking = false;
    const auto sleep = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&] {
        blocking = true;
        clock.start();
    });
    const auto wake = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&] {
        if (blocking)
            blockedNs += clock.nsecsElapsed();
        blocking = false;
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    // Whole milliseconds, rounded up: the count of idle polls is capped anyway.
    deadline.start(int(std::min<qint64>((maxIdle * slotNs + 999'999) / 1'000'000, INT_MAX)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    disconnect(sleep);
    disconnect(wake);
    return std::min(maxIdle, blockedNs / slotNs);
}

bool frmMain::drainInput()
{
    m_tap->drain();
    // The read may find the line gone (lost while the program was busy):
    // the exchange stops before its write.
    if (MSComm1->PortOpen())
        return true;
    reportLineClosed();
    return false;
}

bool frmMain::writeOut(const QByteArray &frame)
{
    OutStr = frame;
    return writeLine(frame);
}

bool frmMain::writeLine(const QByteArray &bytes)
{
    if (MSComm1->Output(bytes))
        return true;
    if (!MSComm1->PortOpen())
        reportLineClosed();
    else
        reportError(QStringLiteral("COM %1 (%2): the bytes could not be written: %3")
                        .arg(MSComm1->CommPort())
                        .arg(MSComm1->deviceName(), MSComm1->errorText()));
    return false;
}

void frmMain::reportWaitFailure(const RxResult &r)
{
    switch (r.status) {
    case RxStatus::Received:
    case RxStatus::Timeout:
        break; // the exchange judges these itself
    case RxStatus::Overflow:
        ++m_overflows;
        reportError(QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the awaited "
                                   "reply; the exchange was ended")
                        .arg(kReceiveBound));
        break;
    case RxStatus::PortClosed:
        reportLineClosed();
        break;
    case RxStatus::Aborted:
        break; // the program is ending; nothing to show
    }
}

bool frmMain::writeBytes(const QByteArray &bytes, bool frame)
{
    if (m_tally.active && !m_tally.wrote)
        m_tally.firstWriteNs = m_clock.nsecsElapsed();
    const bool ok = frame ? writeOut(bytes) : writeLine(bytes);
    if (m_tally.active) {
        m_tally.wrote = m_tally.wrote || ok;
        if (!ok)
            m_tally.line = MSComm1->PortOpen() ? ExchangeOutcome::NotSent : ExchangeOutcome::LineLost;
    }
    return ok;
}

RxResult frmMain::awaitReply(const QList<QByteArray> &terminators, qint64 limit)
{
    RxResult r = RxWait(terminators, limit);
    if (m_tally.active)
        m_tally.replyNs = r.ok() ? m_clock.nsecsElapsed() : -1;
    return r;
}

void frmMain::waitFailed(const RxResult &r)
{
    reportWaitFailure(r);
    if (m_tally.active) {
        m_tally.line = r.status == RxStatus::Overflow  ? ExchangeOutcome::Overflow
                       : r.status == RxStatus::Aborted ? ExchangeOutcome::Aborted
                                                       : ExchangeOutcome::LineLost;
    }
}

void frmMain::apply(const Act &act)
{
    switch (act.kind) {
    case Act::Replace:
        resultsReplace(act.bytes);
        break;
    case Act::Append:
        resultsAppend(act.bytes);
        break;
    case Act::Repaint:
        resultsRepaint();
        break;
    case Act::Error:
        reportError(act.text, false);
        break;
    case Act::Beep:
        beep();
        break;
    case Act::Reply:
        Rdg = act.bytes;
        ++RdgAnswers;
        break;
    case Act::View:
        applyView(act.view);
        break;
    case Act::LinkOpened:
        // An address edited while the wait ran is not the one the link opened
        // with: the edit asks for cmdSet again, so the flag stays clear.
        AddrSetFlg = m_addrEdits == m_addrEditsAtLinkOpen;
        break;
    case Act::NakUsed:
        ckNAK->setChecked(false);
        break;
    case Act::Outcome:
        m_tally.said = act.outcome;
        break;
    case Act::HoldOff:
        ++m_tally.holdOffs;
        break;
    case Act::WriteFrame:
    case Act::Write:
    case Act::Await:
        break; // carried out by RunExchange
    }
}
