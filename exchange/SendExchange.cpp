// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

// The send action: one exchange in the current language. Refused while
// another exchange waits.
void frmMain::cmdSend_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    runSend();
}

void frmMain::runSend()
{
    hideError();
    if (cmdMode == "SCPI")
        sendScpi();
    else if (cmdMode == "X3.28")
        sendX328();
    else if (cmdMode == "XonXoff")
        sendXonXoff();
    else
        reportError(QStringLiteral("Unknown mode error, cmdMode$ = ") + QString::fromLatin1(cmdMode));
}

bool frmMain::takeEntry(QComboBox *box)
{
    const QByteArray typed = box->currentText().toLatin1();
    if (CmdStr.isEmpty() && typed.isEmpty()) {
        beep();
        reportError(QStringLiteral("Nothing to send"), false);
        return false;
    }
    // An empty entry repeats the last command or query.
    if (typed.isEmpty())
        box->setEditText(QString::fromLatin1(CmdStr));
    CmdStr = box->currentText().toLatin1();
    return true;
}

// SCPI: the text with LF; a query waits for its reply line, a command for the
// prompt; a text naming another language switches the program to it.
void frmMain::sendScpi()
{
    if (!requirePort())
        return;
    drainInput();
    if (!takeEntry(combCmd))
        return;
    writeOut(FrameScpi(CmdStr));
    resultsReplace("Sent " + CmdStr);
    resultsRepaint();

    if (OutStr.contains("X3.28")) {
        MSComm1->Output(CmdStr); // the bare second copy
        lblSCPI->hide();
        lblX328->show();
        cmdMode = "X3.28";
        for (QPushButton *b : {cmdDisconnect, cmdSet, cmdSend, cmdQuery})
            b->setEnabled(true);
        cmdLbl->setText(QStringLiteral("Enter X3.28 command-space-data i.e. SP1 100"));
        frmDevCmd->setTitle(QStringLiteral("X3.28 Device Commands"));
        return;
    }
    if (OutStr.contains("XonXoff")) {
        MSComm1->Output(CmdStr);
        lblSCPI->hide();
        lblXOnXoff->show();
        cmdMode = "XonXoff";
        cmdLbl->setText(QStringLiteral("Enter Xon/Xoff command-space-data i.e. SP1 100"));
        frmDevCmd->setTitle(QStringLiteral("Xon/Xoff Device Commands"));
        frmDevResp->setTitle(QStringLiteral("Xon/Xoff Query Only"));
        cmdDisconnect->setEnabled(false);
        cmdSet->setEnabled(false);
        cmdSend->setEnabled(true);
        cmdQuery->setEnabled(true);
        cmdQtst->setEnabled(true);
        cmdQtstOff->setEnabled(false);
        cmdCmdtst->setEnabled(true);
        cmdCmdtstoff->setEnabled(false);
        combCmd->setFocus();
        combCmd->setEditText(QString());
        return;
    }
    if (OutStr.contains('?')) {
        const RxResult r = RxWait({QByteArray(1, Ctl::LF)}, kReplyPollLimit);
        if (reportWaitFailure(r))
            return;
        if (r.status == RxStatus::Timeout) {
            reportError(QString::fromLatin1(kNoResponseMessage));
            resultsAppend("No response");
            return;
        }
        const QByteArray reply = r.buffer.left(r.buffer.indexOf(Ctl::LF));
        resultsAppend(reply);
        Rdg = reply;
        ++RdgAnswers;
        if (r.buffer.contains(kPrompt))
            resultsAppend("Prompt received");
        return;
    }
    const RxResult r = RxWait({QByteArray(kPrompt)}, kPromptPollLimit);
    if (reportWaitFailure(r))
        return;
    if (r.status == RxStatus::Timeout) {
        reportError(QStringLiteral("Prompt not found."));
        return;
    }
    resultsAppend("Prompt received");
}

// The query action: dispatch on the mode. In SCPI mode there is no query
// exchange; the report says so.
void frmMain::cmdQuery_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    runQuery();
}

void frmMain::runQuery()
{
    if (cmdMode == "X3.28")
        queryX328();
    else if (cmdMode == "XonXoff")
        queryXonXoff();
    else
        reportError(QStringLiteral("Unknown mode error, cmdMode$ = ") + QString::fromLatin1(cmdMode));
}
