// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QComboBox>

namespace {
QByteArray one(char c) { return QByteArray(1, c); }

bool isLoneXoff(const QByteArray &buffer) { return buffer.size() == 1 && buffer.at(0) == Ctl::XOFF; }
} // namespace

// Xon/Xoff command: "= " text CR, then the first XOFF, XON or CR. A lone XOFF
// means the device is busy: say so and wait again with a fresh count, as
// often as it comes. "@@@" instead returns to SCPI.
void frmMain::sendXonXoff()
{
    if (!requirePort())
        return;
    drainInput();
    if (!takeEntry(combCmd))
        return;
    if (CmdStr == kEscape) {
        escapeToScpi();
        return;
    }
    writeOut(FrameXonCmd(CmdStr));
    resultsReplace("Sent " + CmdStr);
    resultsRepaint();

    const auto r = waitPastHoldOffs({one(Ctl::XOFF), one(Ctl::XON), one(Ctl::CR)},
                                    "Received <xoff> -waiting for next string");
    if (r)
        resultsAppend("Received Characters: " + ListNames(r->buffer));
}

// Xon/Xoff query: "? " text CR, then a reply line ending in CR. A lone XOFF
// holds the query off (its own busy text); an XON alone does not end the wait.
void frmMain::queryXonXoff()
{
    hideError();
    if (!requirePort())
        return;
    drainInput();
    if (!takeEntry(combQuery))
        return;
    writeOut(FrameXonQuery(CmdStr));
    resultsReplace("Sent " + CmdStr);
    resultsRepaint();

    const auto r = waitPastHoldOffs({one(Ctl::XOFF), one(Ctl::CR)}, "Received Xoff-waiting for next string");
    if (!r)
        return;
    if (r->buffer.size() == 1) {
        // A CR alone: an empty line where a value was expected.
        resultsAppend("Received Characters: " + ListCodesPlain(r->buffer));
        resultsAppend("Did not receive an ACK or a NAK");
        beep();
        return;
    }
    resultsAppend("Received Characters: " + ListNames(r->buffer));
}

// The Xon/Xoff reply wait: a buffer that is one lone XOFF means the device is
// busy; the busy line replaces the transcript and the wait starts again with
// a fresh count, as often as it comes. Each wait stops on its own when the
// line is lost or the program ends. Nothing when the wait failed (reported).
std::optional<RxResult> frmMain::waitPastHoldOffs(const QList<QByteArray> &terminators, const QByteArray &busyLine)
{
    for (;;) {
        RxResult r = RxWait(terminators, kReplyPollLimit);
        if (reportWaitFailure(r))
            return std::nullopt;
        if (r.status == RxStatus::Timeout) {
            reportError(QString::fromLatin1(kNoResponseMessage));
            return std::nullopt;
        }
        if (!isLoneXoff(r.buffer))
            return r;
        resultsReplace(busyLine);
        resultsRepaint();
    }
}
