// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

QByteArray one(char c) { return QByteArray(1, c); }
} // namespace

// The entry checks of the selection and the poll: "Nothing to send" first,
// then the open link, then the refill. The address check stands before the
// refill, so a refused exchange leaves the entry and CmdStr alone.
bool frmMain::takeX328Entry(QComboBox *box)
{
    if (!AddrSetFlg && !(CmdStr.isEmpty() && box->currentText().isEmpty())) {
        beep();
        reportError(QStringLiteral("Missing a device address"), false);
        return false;
    }
    return takeEntry(box);
}

// X3.28 selection: STX "= " text ETX, answered by ACK or NAK. "@@@" instead
// returns the converter and the program to SCPI.
void frmMain::sendX328()
{
    if (!requirePort())
        return;
    drainInput();
    if (!takeX328Entry(combCmd))
        return;
    if (CmdStr == kEscape) {
        escapeToScpi();
        return;
    }
    writeOut(FrameSelect(CmdStr));
    resultsReplace("Sent " + CmdStr);
    resultsRepaint();

    const RxResult r = RxWait({one(Ctl::NAK), one(Ctl::ACK)}, kReplyPollLimit);
    if (reportWaitFailure(r))
        return;
    if (r.status == RxStatus::Timeout) {
        reportError(QString::fromLatin1(kNoResponseMessage));
        return;
    }
    // An ACK anywhere wins over a NAK anywhere.
    const qint64 ack = PositionOf(r.buffer, Ctl::ACK);
    if (ack > 0) {
        resultsReplace("Received Characters: " + ListCodes(r.buffer, ack));
        resultsAppend("Received ACK");
        return;
    }
    resultsReplace("Received Characters: " + ListCodes(r.buffer, PositionOf(r.buffer, Ctl::NAK)));
    resultsAppend("Received NAK");
    beep();
}

// The escape typed as a device command in X3.28 or Xon/Xoff mode: "@@@" bare,
// no answer awaited, the window set up for SCPI. Unlike the SCPI button it
// disables cmdSet and cmdXonXoff and leaves the table buttons alone.
void frmMain::escapeToScpi()
{
    MSComm1->Output(kEscape);
    lblSCPI->show();
    lblX328->hide();
    lblXOnXoff->hide();
    cmdSet->setEnabled(false);
    cmdDisconnect->setEnabled(false);
    cmdXonXoff->setEnabled(false);
    cmdSend->setEnabled(true);
    cmdQuery->setEnabled(false);
    cmdQtst->setEnabled(true);
    cmdQtstOff->setEnabled(false);
    cmdCmdtst->setEnabled(true);
    cmdCmdtstoff->setEnabled(false);
    cmdLbl->setText(QStringLiteral("Enter SCPI and Modbus commands"));
    frmDevCmd->setTitle(QStringLiteral("Device Commands and Queries"));
    frmDevResp->setTitle(QStringLiteral("Query not active in SCPI mode"));
    cmdMode = "SCPI";
}

// X3.28 poll: query block, ACK, EOT, data block STX ... ETX, optionally one
// NAK for a repeat, ACK, closing EOT.
void frmMain::queryX328()
{
    hideError();
    if (!requirePort())
        return;
    drainInput();
    if (!takeX328Entry(combQuery))
        return;
    writeOut(FramePoll(CmdStr));
    resultsReplace("Sent " + CmdStr);
    resultsRepaint();

    // The query block: ACK or NAK, ACK winning.
    RxResult r = RxWait({one(Ctl::ACK), one(Ctl::NAK)}, kReplyPollLimit);
    if (reportWaitFailure(r))
        return;
    if (r.status == RxStatus::Timeout) {
        reportError(QString::fromLatin1(kNoResponseMessage));
        return;
    }
    const qint64 ack = PositionOf(r.buffer, Ctl::ACK);
    if (ack == 0) {
        resultsReplace("Received Characters: " + ListCodes(r.buffer, PositionOf(r.buffer, Ctl::NAK)));
        resultsAppend("Received  NAK");
        beep();
        return;
    }
    resultsReplace("Received Characters: " + ListCodes(r.buffer, ack));
    resultsAppend("Received  ACK");
    resultsRepaint();
    writeOut(one(Ctl::EOT));

    // The data block; at most one NAK asks for it again.
    bool nakSent = false;
    for (;;) {
        r = RxWait({one(Ctl::ETX)}, kReplyPollLimit);
        if (reportWaitFailure(r))
            return;
        if (r.status == RxStatus::Timeout) {
            reportError(QString::fromLatin1(kNoResponseMessage));
            return;
        }
        const qint64 n = r.buffer.size();
        if (r.buffer.at(0) != Ctl::STX) {
            // No ACK: the device is left waiting, as it is after every failure.
            reportError(QStringLiteral("STX not first character in the buffer"));
            resultsAppend("Received " + ListCodes(r.buffer, n));
            if (ckByteCnt->isChecked())
                resultsAppend("Byte Count= " + SignedNumberText(n));
            return;
        }
        // The data stand between the STX and the first ETX; whatever came
        // after that ETX in the same poll is not data.
        const QByteArray data = r.buffer.mid(1, r.buffer.indexOf(Ctl::ETX) - 1);
        const qsizetype cr = data.indexOf(Ctl::CR);
        if (cr >= 0)
            resultsAppend("Received STX " + data.left(cr) + "<cr> ETX");
        else
            resultsAppend("Received STX " + data + " ETX");
        if (ckByteCnt->isChecked())
            resultsAppend("Byte Count= " + SignedNumberText(n));
        resultsRepaint();
        if (nakSent || !ckNAK->isChecked())
            break;
        ckNAK->setChecked(false);
        nakSent = true;
        writeOut(one(Ctl::NAK));
        resultsAppend("Sent NAK");
        resultsRepaint();
    }
    writeOut(one(Ctl::ACK));

    // The closing EOT, alone.
    r = RxWait({one(Ctl::EOT)}, kReplyPollLimit);
    if (reportWaitFailure(r))
        return;
    if (r.status == RxStatus::Timeout) {
        reportError(QStringLiteral("Receive timeout error - no EOT from UUT"));
        return;
    }
    if (r.buffer.size() > 1) {
        reportError(QStringLiteral("Receive buffer has more than one character"));
        resultsAppend("Received " + r.buffer);
        return;
    }
    resultsAppend("Received EOT");
}
