// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "serial/PortObject.h"
#include "serial/PortSelection.h"
#include "serial/frmPorts.h"
#include "app/UiSeams.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

// Closes the port, lets the user choose port and line format in the settings
// dialog, and opens the chosen port in SCPI mode. Sends nothing.
void frmMain::cmdInit_Click()
{
    if (!tryBegin())
        return;
    // Loop ticks are skipped while the dialog is up and the port is closed.
    BusyScope busy(*this);
    if (MSComm1->PortOpen())
        MSComm1->PortOpen(false);
    showLineTarget();

    m_ports->beginChoice();
    m_seams->runPortsDialog(*m_ports);
    // Left because the program is ending (a signal): nothing is opened.
    if (m_line.stopWaits())
        return;

    if (CommPortNum == 0) {
        txtERROR->setPlainText(QStringLiteral("No COM Port Selected"));
        beep();
        txtERROR->show();
        return;
    }
    cmdInit->setEnabled(true);
    txtERROR->hide();

    // Open with the chosen settings; a refusal leaves the port closed and
    // enables nothing that needs it.
    MSComm1->CommPort(CommPortNum);
    bool opened = false;
    if (PortSettings.isEmpty())
        reportError(QStringLiteral("COM %1 not opened: no line settings were chosen").arg(CommPortNum));
    else if (!MSComm1->Settings(PortSettings))
        reportError(QStringLiteral("COM %1 not opened: %2").arg(CommPortNum).arg(MSComm1->errorText()));
    else {
        MSComm1->InputLen(0);
        opened = MSComm1->PortOpen(true);
        if (!opened)
            reportError(MSComm1->errorText());
    }
    if (!opened) {
        applyView(ModeView::PortClosed);
        showLineTarget();
        return;
    }
    m_lossMessage.clear();
    if (const QString note = MSComm1->openNote(); !note.isEmpty())
        statusBar()->showMessage(QStringLiteral("COM %1: %2").arg(CommPortNum).arg(note), 15000);
    MSComm1->RTSEnable(true);
    MSComm1->DTREnable(true);

    applyView(ModeView::Init);
    resultsReplace({});
    CmdStr.clear();
    combCmd->setFocus();
    txtERROR->clear();
    txtERROR->hide();
    showLineTarget();
}
