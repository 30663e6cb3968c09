// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/FocusReturn.h"
#include "app/HelpFile.h"
#include "app/TranscriptBox.h"
#include "app/UiSeams.h"
#include "plan/PlanRecorder.h"
#include "plan/PlanRunner.h"
#include "serial/ComPortMap.h"
#include "serial/PortObject.h"
#include "serial/PortSelection.h"
#include "serial/Tdelay.h"
#include "serial/frmPorts.h"
#include "session/BenchSession.h"
#include "sim/SimulatorMenu.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

namespace {
ComPortMap *mapOrOwn(ComPortMap *given, std::unique_ptr<ComPortMap> &own)
{
    if (!given)
        own = std::make_unique<ComPortMap>();
    return given ? given : own.get();
}
} // namespace

frmMain::frmMain(PortObject *port, UiSeams *seams, ComPortMap *map, QWidget *parent)
    : QMainWindow(parent)
    , m_map(mapOrOwn(map, m_ownMap))
    , m_session(std::make_unique<BenchSession>(port, *m_map, static_cast<BenchView &>(*this)))
    , cmdMode(m_session->state().cmdMode)
    , AddrSetFlg(m_session->state().AddrSetFlg)
    , AddrStr(m_session->state().AddrStr)
    , CmdStr(m_session->state().CmdStr)
    , OutStr(m_session->state().OutStr)
    , Rdg(m_session->state().Rdg)
    , RdgAnswers(m_session->state().RdgAnswers)
    , CRLFStr(m_session->state().CRLFStr)
    , LpCount(m_session->state().LpCount)
    , CMDloopFlg(m_session->state().CMDloopFlg)
    , QloopFlg(m_session->state().QloopFlg)
    , pollPacingMicros(m_session->pollPacingMicros)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vek OrnaSerTest Program"));
    m_ownSeams = !seams;
    m_seams = seams ? seams : new UiSeams;
    MSComm1 = &m_session->port();
    Timer1 = &m_session->timer();
    buildUi();
    new FocusReturn(this);
    buildRecordUi();
    buildShellMenus();
    buildPlanUi();
    connectSession();
    Form_Load();
}

frmMain::~frmMain()
{
    Timer1->stop();
    if (m_ownSeams)
        delete m_seams;
}

void frmMain::connectSession()
{
    BenchSession *s = m_session.get();
    connect(s, &BenchSession::lineChanged, this, &frmMain::showLineTarget);
    connect(s, &BenchSession::loopCountChanged, this, &frmMain::showLoopCount);
    connect(s, &BenchSession::loopStatsChanged, this, &frmMain::showLoopStats);
    connect(s, &BenchSession::note, this, [this](const QString &text) { statusBar()->showMessage(text, 15000); });
    connect(s, &BenchSession::ended, this, &frmMain::endProgram);
}

void frmMain::Form_Load()
{
    txtRev->setText(QStringLiteral("Revised 06-06-2017"));
    txtERROR->clear();
    txtResults->setBytes({});
    combCmd->setEditText(QString());
    txtAddr->setText(QStringLiteral("0"));
    cmdExit->setEnabled(true);
    optTime[3]->setChecked(true);
    ckByteCnt->setChecked(false);
    txtResults->setEnabled(true);
    txtERROR->setEnabled(false);
    txtERROR->hide();
    m_session->load();
    showLoopCount();
    combCmd->clear();
    combCmd->addItems({QStringLiteral("*esr?"), QStringLiteral("*idn?"), QStringLiteral("*stb?"),
                       QStringLiteral("SYST:LANG X3.28"), QStringLiteral("SYST:LANG XonXoff"), QStringLiteral("@@@")});
    combCmd->setEditText(QString());
    if (!m_ports)
        m_ports = new frmPorts(*m_map, this);
    showLineTarget();
}

void frmMain::txtAddr_Change()
{
    cmdSet->setEnabled(true);
    m_session->addressEdited();
}

void frmMain::combCmd_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cmdSend_Click();
}

void frmMain::combQuery_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cmdQuery_Click();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const bool inCmd = watched == combCmd || watched == combCmd->lineEdit();
    const bool inQuery = watched == combQuery || watched == combQuery->lineEdit();
    if (!inCmd && !inQuery)
        return QMainWindow::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const int code = enter ? 13 : (key->text().isEmpty() ? 0 : key->text().at(0).unicode());
    if (inCmd)
        combCmd_KeyPress(code);
    else
        combQuery_KeyPress(code);
    return enter; // Enter is consumed; other keys edit the text as usual
}

// ---- The handlers: each asks the session

void frmMain::cmdInit_Click()
{
    m_session->init([this] {
        m_ports->beginChoice();
        m_seams->runPortsDialog(*m_ports);
        return currentPortChoice();
    });
}

void frmMain::Tdelay(double delaytime)
{
    ::Tdelay(delaytime);
}

void frmMain::cmdSCPI_Click()
{
    m_session->scpi();
}

void frmMain::cmdSet_Click()
{
    m_session->setAddress(txtAddr->text().toLatin1());
}

void frmMain::cmdDisconnect_Click()
{
    m_session->disconnectLink();
}

void frmMain::cmdXonXoff_Click()
{
    m_session->xonXoff();
}

void frmMain::cmdSend_Click()
{
    m_session->send();
}

void frmMain::cmdQuery_Click()
{
    m_session->query();
}

void frmMain::cmdLdCmdTable_Click()
{
    m_session->loadTable();
}

void frmMain::cmdRdCmdTable_Click()
{
    m_session->readTable();
}

void frmMain::cmdCmdtst_Click()
{
    if (!m_session->startCommandLoop())
        return;
    cmdCmdtstoff->setEnabled(true);
    cmdCmdtst->setEnabled(false);
}

void frmMain::cmdCmdtstoff_Click()
{
    m_session->stopCommandLoop();
    cmdCmdtstoff->setEnabled(false);
    cmdCmdtst->setEnabled(true);
}

void frmMain::cmdQtst_Click()
{
    if (!m_session->startQueryLoop())
        return;
    cmdQtst->setEnabled(false);
    cmdQtstOff->setEnabled(true);
}

void frmMain::cmdQtstOff_Click()
{
    m_session->stopQueryLoop();
    cmdQtst->setEnabled(true);
    cmdQtstOff->setEnabled(false);
}

void frmMain::optTime_Click(int index)
{
    m_session->chooseInterval(index);
}

void frmMain::Timer1_Timer()
{
    m_session->tick();
}

// ---- What the session says changed

void frmMain::showLoopCount()
{
    const LoopRunner &loops = m_session->loops();
    txtCount->setVisible(loops.countShown());
    lblCount->setVisible(loops.countLabelShown());
    txtCount->setText(loops.countText());
}

void frmMain::showLineTarget()
{
    const BenchSession::LineTarget t = m_session->lineTarget();
    if (!t.open) {
        lblLine->setText(t.lost ? QStringLiteral("Line: port closed (lost)") : QStringLiteral("Line: port closed"));
        lblLine->setStyleSheet(QString());
    } else if (t.simulated) {
        lblLine->setText(QStringLiteral("Line: COM %1 -> %2 (%3), no hardware")
                             .arg(t.port)
                             .arg(ComPortMap::simulatorName(), t.device));
        lblLine->setStyleSheet(QStringLiteral("QLabel { color: white; background: #a05a00; font-weight: bold; padding: 2px; }"));
    } else {
        lblLine->setText(QStringLiteral("Line: COM %1 -> %2, %3").arg(t.port).arg(t.device, t.settings));
        lblLine->setStyleSheet(QString());
    }
    lblLine->setProperty("simulator", t.simulated);
}

// ---- Help and exit

// The help file with the desktop's viewer where there is one; otherwise,
// or when the desktop cannot show it (at once or when its opener fails),
// the guide built into the program, with the reason at its top.
void frmMain::cmdHelp_Click()
{
    const QString path = findHelpFile();
    if (path.isEmpty()) {
        showGuide(QStringLiteral("No help file %1: showing the built-in guide").arg(helpFileName()),
                  QStringLiteral("The help file %1 is in none of these folders: %2. This is the guide built "
                                 "into the program.")
                      .arg(helpFileName(), helpFolders().join(QStringLiteral(", "))));
        return;
    }
    m_seams->showHelp(this, path, [this](const QString &why) {
        showGuide(QStringLiteral("%1 could not be shown: showing the built-in guide").arg(helpFileName()),
                  why + QStringLiteral(" This is the guide built into the program."));
    });
}

void frmMain::cmdExit_Click()
{
    m_session->requestExit();
}

// The session has shut the line down: the window closes, the program ends.
void frmMain::endProgram()
{
    if (m_ports)
        m_ports->hide();
    close();
    m_seams->endProgram();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_session->exiting()) {
        event->accept();
        return;
    }
    // The window's own close control ends the program the orderly way; while
    // an exchange waits, the exit follows when it has ended.
    if (!m_session->exitOnClose()) {
        event->ignore();
        return;
    }
    if (m_ports)
        m_ports->hide();
    event->accept();
    m_seams->endProgram();
}

SimulatorMenu *installSimulatorMenu(frmMain &window, SimHost &host)
{
    return new SimulatorMenu(window, window.mnuHelp->menuAction(), window.session(), host);
}
