// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QCheckBox>
#include <QComboBox>

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
    beginTally();
    hideError();
    if (cmdMode == "SCPI")
        sendScpi();
    else if (cmdMode == "X3.28")
        sendX328();
    else if (cmdMode == "XonXoff")
        sendXonXoff();
    else
        reportError(QStringLiteral("Unknown mode error, cmdMode$ = ") + QString::fromLatin1(cmdMode));
    finishTally("send");
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
    beginTally();
    if (cmdMode == "X3.28")
        queryX328();
    else if (cmdMode == "XonXoff")
        queryXonXoff();
    else
        reportError(QStringLiteral("Unknown mode error, cmdMode$ = ") + QString::fromLatin1(cmdMode));
    finishTally("query");
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

// Each branch: the open port, the drain, the entry checks, then the
// exchange itself (exchange/Exchange.h). "@@@" typed in X3.28 or Xon/Xoff
// mode returns the converter and the program to SCPI instead.

void frmMain::sendScpi()
{
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    if (!takeEntry(combCmd))
        return;
    RunExchange(*ScpiExchange(CmdStr), *this);
}

void frmMain::sendX328()
{
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    if (!takeX328Entry(combCmd))
        return;
    if (CmdStr == kEscape)
        RunActs(EscapeActs(), *this);
    else
        RunExchange(*SelectExchange(CmdStr), *this);
}

void frmMain::sendXonXoff()
{
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    if (!takeEntry(combCmd))
        return;
    if (CmdStr == kEscape)
        RunActs(EscapeActs(), *this);
    else
        RunExchange(*XonCommandExchange(CmdStr), *this);
}

void frmMain::queryX328()
{
    hideError();
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    if (!takeX328Entry(combQuery))
        return;
    PollOptions options;
    options.oneNak = [this] { return ckNAK->isChecked(); };
    options.byteCount = [this] { return ckByteCnt->isChecked(); };
    RunExchange(*PollExchange(CmdStr, options), *this);
}

void frmMain::queryXonXoff()
{
    hideError();
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    if (!takeEntry(combQuery))
        return;
    RunExchange(*XonQueryExchange(CmdStr), *this);
}
