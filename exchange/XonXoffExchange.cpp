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

    for (;;) {
        // Each wait stops on its own when the line is lost or the program ends.
        const RxResult r = RxWait({one(Ctl::XOFF), one(Ctl::XON), one(Ctl::CR)}, kReplyPollLimit);
        if (reportWaitFailure(r))
            return;
        if (r.status == RxStatus::Timeout) {
            reportError(QString::fromLatin1(kNoResponseMessage));
            return;
        }
        if (isLoneXoff(r.buffer)) {
            resultsReplace("Received <xoff> -waiting for next string");
            resultsRepaint();
            continue;
        }
        resultsAppend("Received Characters: " + ListNames(r.buffer));
        return;
    }
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

    for (;;) {
        const RxResult r = RxWait({one(Ctl::XOFF), one(Ctl::CR)}, kReplyPollLimit);
        if (reportWaitFailure(r))
            return;
        if (r.status == RxStatus::Timeout) {
            reportError(QString::fromLatin1(kNoResponseMessage));
            return;
        }
        if (isLoneXoff(r.buffer)) {
            resultsReplace("Received Xoff-waiting for next string");
            resultsRepaint();
            continue;
        }
        if (r.buffer.size() == 1) {
            // A CR alone: an empty line where a value was expected.
            resultsAppend("Received Characters: " + ListCodesPlain(r.buffer));
            resultsAppend("Did not receive an ACK or a NAK");
            beep();
            return;
        }
        resultsAppend("Received Characters: " + ListNames(r.buffer));
        return;
    }
}
