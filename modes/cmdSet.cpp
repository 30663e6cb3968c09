// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace {
// Nearest integer, a half going to the even neighbour (64.5 -> 64, 65.5 -> 66).
double roundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double diff = x - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1;
}

// Addresses 0 to 9 go out as typed; 10 to 32 as one letter from A (10) to W (32).
QByteArray addressString(const QByteArray &typed, double value)
{
    if (value <= 9)
        return typed;
    return QByteArray(1, char(int(roundHalfEven(value + 55))));
}
} // namespace

// Checks the typed address, sends it with ENQ and waits for the ACK that opens
// the X3.28 link. cmdDisconnect ends enabled whatever happens.
void frmMain::cmdSet_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    AddrSetFlg = false;

    // The text as checked is the text sent and shown, even if the box is
    // edited while the wait runs.
    const QByteArray typed = txtAddr->text().toLatin1();
    const double v = NumericValue(typed);
    if (v > 32 || v < 0 || (v == 0 && typed != "0")) {
        beep();
        reportError(QStringLiteral("Address value not 0 to 32, re-enter"));
        cmdDisconnect->setEnabled(true);
        return;
    }
    AddrStr = addressString(typed, v);

    if (!requirePort()) {
        cmdDisconnect->setEnabled(true);
        return;
    }
    drainInput();
    MSComm1->Output(AddrStr + Ctl::ENQ);

    const RxResult r = RxWait({QByteArray(1, Ctl::ACK)}, kReplyPollLimit);
    if (reportWaitFailure(r)) {
        cmdDisconnect->setEnabled(true);
        return;
    }
    if (r.status == RxStatus::Timeout) {
        reportError(QString::fromLatin1(kNoResponseMessage));
        if (r.buffer.isEmpty())
            resultsReplace("Received buffer was empty");
        else
            resultsReplace("Received " + ListCodes(r.buffer, r.buffer.size()));
        cmdDisconnect->setEnabled(true);
        return;
    }

    const qint64 p = PositionOf(r.buffer, Ctl::ACK);
    if (p >= 3) {
        // Too much before the ACK: shown, but the link does not count as open.
        resultsReplace("Received " + ListCodes(r.buffer, p));
        cmdDisconnect->setEnabled(true);
        return;
    }
    resultsReplace("Received " + r.buffer.left(p - 1) + " ACK");
    resultsAppend("Device address set to " + typed);
    AddrSetFlg = true;
    cmdDisconnect->setEnabled(true);
    cmdSend->setEnabled(true);
    cmdQuery->setEnabled(true);
    cmdQtst->setEnabled(true);
    cmdQtstOff->setEnabled(false);
    cmdCmdtst->setEnabled(true);
    cmdCmdtstoff->setEnabled(false);
    cmdLdCmdTable->setEnabled(false);
    cmdRdCmdTable->setEnabled(false);
    combCmd->setFocus();
    combCmd->setEditText(QString());
    cmdMode = "X3.28";
    lblX328->show();
    lblSCPI->hide();
    cmdLbl->setText(QStringLiteral("Enter X3.28 parameter <space> value i.e. SP1 100"));
    frmDevCmd->setTitle(QStringLiteral("X3.28 Device Commands"));
    cmdDisconnect->setEnabled(true);
}
