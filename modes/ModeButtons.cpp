// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

// Back to SCPI: the escape "@@@" (no terminator, no answer awaited), then the
// window is set up for SCPI work.
void frmMain::cmdSCPI_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (!requirePort())
        return;
    drainInput();
    MSComm1->Output(kEscape);
    resultsReplace("Sent @@@");
    resultsAppend("SCPI commands enabled");
    cmdMode = "SCPI";
    cmdDisconnect->setEnabled(false);
    cmdSend->setEnabled(true);
    cmdQuery->setEnabled(false);
    cmdQtst->setEnabled(true);
    cmdQtstOff->setEnabled(false);
    cmdCmdtst->setEnabled(true);
    cmdCmdtstoff->setEnabled(false);
    cmdLdCmdTable->setEnabled(true);
    cmdRdCmdTable->setEnabled(true);
    combCmd->setFocus();
    combCmd->setEditText(QString());
    lblX328->hide();
    lblXOnXoff->hide();
    lblSCPI->show();
    cmdLbl->setText(QStringLiteral("Enter SCPI and Modbus commands"));
    frmDevCmd->setTitle(QStringLiteral("Device Commands and Queries"));
    frmDevResp->setTitle(QStringLiteral("Query not active in SCPI mode"));
}

// The X3.28 disconnect message DLE ENQ; the program is in X3.28 mode after it.
void frmMain::cmdDisconnect_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (!requirePort())
        return;
    drainInput();
    MSComm1->Output(FrameDisconnect());
    resultsReplace("Sent <DLE> <ENQ>");
    cmdDisconnect->setEnabled(false);
    cmdLdCmdTable->setEnabled(false);
    cmdRdCmdTable->setEnabled(false);
    cmdMode = "X3.28";
    lblX328->show();
    lblSCPI->hide();
    cmdLbl->setText(QStringLiteral("Enter X3.28 parameter <space> value"));
    frmDevCmd->setTitle(QStringLiteral("X3.28 Device Commands"));
}

// Xon/Xoff mode for the program alone; nothing is written. Refused while an
// operation runs: a table load or a loop tick would go on in another language.
void frmMain::cmdXonXoff_Click()
{
    if (!tryBegin())
        return;
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
    cmdLdCmdTable->setEnabled(false);
    cmdRdCmdTable->setEnabled(false);
    combCmd->setFocus();
    combCmd->setEditText(QString());
}
