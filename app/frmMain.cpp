// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/CaptionButton.h"
#include "app/FocusReturn.h"
#include "app/HelpFile.h"
#include "app/Logo.h"
#include "app/TranscriptBox.h"
#include "app/UiSeams.h"
#include "exchange/Protocol.h"
#include "modes/ModeViews.h"
#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/MonitoredPort.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"
#include "serial/SessionLog.h"
#include "serial/frmPorts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {
template <typename W>
W *named(W *w, const char *name, const QString &tip = {})
{
    w->setObjectName(QLatin1String(name));
    if (!tip.isEmpty())
        w->setToolTip(tip);
    return w;
}

QPushButton *button(const char *name, const QString &caption, const QString &tip = {})
{
    auto *b = named(new CaptionButton(caption), name, tip);
    b->setAutoDefault(false);
    return b;
}

QGroupBox *frame(const char *name, const QString &caption)
{
    return named(new QGroupBox(caption), name);
}
} // namespace

frmMain::frmMain(PortObject *port, UiSeams *seams, ComPortMap *map, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vek OrnaSerTest Program"));
    if (!seams) {
        seams = new UiSeams;
        m_ownSeams = true;
    }
    m_seams = seams;
    if (!map) {
        m_ownMap = std::make_unique<ComPortMap>();
        map = m_ownMap.get();
    }
    m_map = map;
    // Every byte both ways, the drains and the line's opening and loss pass
    // the line monitor on their way.
    m_clock.start();
    m_monitor = std::make_shared<LineMonitor>();
    m_log = std::make_unique<SessionLog>(m_monitor);
    m_tap = new MonitoredPort(port ? port : new QtSerialPortObject, m_monitor, this);
    MSComm1 = m_tap;
    MSComm1->usePortMap(m_map);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    connect(MSComm1, &PortObject::portLost, this, &frmMain::onPortLost);
    connect(m_tap, &MonitoredPort::lineOpened, this, &frmMain::onLineOpened);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    buildUi();
    new FocusReturn(this);
    buildRecordUi();
    buildShellMenus();
    Form_Load();
}

frmMain::~frmMain()
{
    Timer1->stop();
    if (m_ownSeams)
        delete m_seams;
}

void frmMain::buildUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    // Title row: logo, title, revision.
    ImageVek = named(new QLabel, "ImageVek");
    ImageVek->setPixmap(vekLogo(48));
    ImageVek->setAccessibleName(QStringLiteral("Vek logo"));
    Label1 = named(new QLabel(QStringLiteral("Vek Orna Serial Test Program")), "Label1");
    QFont titleFont = Label1->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    txtRev = named(new QLineEdit, "txtRev");
    txtRev->setReadOnly(true);
    txtRev->setFocusPolicy(Qt::NoFocus);
    txtRev->setMinimumWidth(txtRev->fontMetrics().horizontalAdvance(QStringLiteral("Revised 06-06-2017")) + 16);

    // Port, help, exit; mode labels.
    cmdInit = button("cmdInit", QStringLiteral("Initialize COM Port"), QStringLiteral("Initializes PC COM ports"));
    cmdHelp = button("cmdHelp", QStringLiteral("Help"), QStringLiteral("Displays help file"));
    cmdExit = button("cmdExit", QStringLiteral("Exit"), QStringLiteral("Ends program."));
    lblSCPI = named(new QLabel(QStringLiteral("SCPI Mode Enabled")), "lblSCPI");
    lblX328 = named(new QLabel(QStringLiteral("X3.28 Mode Enabled")), "lblX328");
    lblXOnXoff = named(new QLabel(QStringLiteral("Xon/Xoff Mode")), "lblXOnXoff");
    for (QLabel *l : {lblSCPI, lblX328, lblXOnXoff})
        l->setStyleSheet(QStringLiteral("QLabel { color: #0a5a0a; font-weight: bold; }"));
    lblLine = named(new QLabel, "lblLine");
    lblLine->setTextFormat(Qt::PlainText);
    // Room for two lines from the start: the line's text (longer when it
    // goes to the simulator) never makes the window wider or taller.
    lblLine->setWordWrap(true);
    lblLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    lblLine->setFixedHeight(lblLine->fontMetrics().lineSpacing() * 2 + 6);

    // X3.28 address and link.
    Frame2 = frame("Frame2", QStringLiteral("X3.28 Device Address"));
    txtAddr = named(new QLineEdit, "txtAddr", QStringLiteral("Enter device addess 1 to 15"));
    txtAddr->setMaximumWidth(txtAddr->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 16);
    cmdSet = button("cmdSet", QStringLiteral(" Set Address and          Open Link"),
                    QStringLiteral("Updates device addess and piuts the program into the X3.28 mode."));
    {
        auto *l = new QHBoxLayout(Frame2);
        l->addWidget(txtAddr);
        l->addWidget(cmdSet, 1);
    }
    frmReset = frame("frmReset", QStringLiteral("Go to SCPI Mode"));
    cmdSCPI = button("cmdSCPI", QStringLiteral("SCPI"), QStringLiteral("Sets Orna and Program to SCPI mode."));
    (new QHBoxLayout(frmReset))->addWidget(cmdSCPI);
    frmDisconnect = frame("frmDisconnect", QStringLiteral("Disconnect Link"));
    cmdDisconnect = button("cmdDisconnect", QStringLiteral("Disconnect"),
                           QStringLiteral("Sends X3.28 disconnect message and puts the program into the X3.28 mode."));
    (new QHBoxLayout(frmDisconnect))->addWidget(cmdDisconnect);
    frmXonXoff = frame("frmXonXoff", QStringLiteral("Xo-Xoff Mode"));
    cmdXonXoff = button("cmdXonXoff", QStringLiteral("  Run   Xon-Xoff"), QStringLiteral("Sets program to XonXoff mode."));
    (new QHBoxLayout(frmXonXoff))->addWidget(cmdXonXoff);

    // ANSI command table.
    frmANSITable = frame("frmANSITable", QStringLiteral("ANSI Command Table"));
    cmdLdCmdTable = button(
        "cmdLdCmdTable", QStringLiteral("Load Examples"),
        QStringLiteral("Loads the ANSI Command Table with sample commands for EZ Zone or F4 Watlow Controllers."));
    cmdRdCmdTable = button("cmdRdCmdTable", QStringLiteral("Read Table"), QStringLiteral("Displays ANSI Table contents."));
    {
        auto *l = new QHBoxLayout(frmANSITable);
        l->addWidget(cmdLdCmdTable);
        l->addWidget(cmdRdCmdTable);
    }

    // Device commands.
    frmDevCmd = frame("frmDevCmd", QStringLiteral("Device Commands and Queries"));
    combCmd = named(new QComboBox, "combCmd", QStringLiteral("Enter Device Command strings"));
    combCmd->setEditable(true);
    combCmd->setInsertPolicy(QComboBox::NoInsert);
    // The operator's text goes out as typed: no inline completion, no case change.
    combCmd->setCompleter(nullptr);
    combCmd->setMinimumContentsLength(28);
    cmdSend = button("cmdSend", QStringLiteral("Send"), QStringLiteral("Sends Device Command and querie to the Orna."));
    cmdLbl = named(new QLabel(QStringLiteral("Enter SCPI and Modbus commands")), "cmdLbl");
    {
        auto *l = new QGridLayout(frmDevCmd);
        l->addWidget(cmdLbl, 0, 0, 1, 2);
        l->addWidget(combCmd, 1, 0);
        l->addWidget(cmdSend, 1, 1);
        l->setColumnStretch(0, 1);
    }

    // Queries and the transcript.
    frmDevResp = frame("frmDevResp", QStringLiteral("X3.28 Query Only"));
    combQuery = named(new QComboBox, "combQuery");
    combQuery->setEditable(true);
    combQuery->setInsertPolicy(QComboBox::NoInsert);
    combQuery->setCompleter(nullptr);
    combQuery->setMinimumContentsLength(12);
    cmdQuery = button("cmdQuery", QStringLiteral("Send Query"), QStringLiteral("Sends X3.28 or XonXoff queries to the Orna."));
    ckNAK = named(new QCheckBox(QStringLiteral("Send one NAK for Data")), "ckNAK");
    ckByteCnt = named(new QCheckBox(QStringLiteral("Display Character Count")), "ckByteCnt",
                      QStringLiteral("Displays number of received characters"));
    lblQuery = named(new QLabel(QStringLiteral("Enter only the parameter to be queried.  i.e. C1")), "lblQuery");
    txtResults = named(new TranscriptBox, "txtResults");
    txtResults->setAccessibleName(QStringLiteral("Transcript"));
    txtResults->setMinimumSize(440, 220);
    {
        auto *l = new QGridLayout(frmDevResp);
        l->addWidget(lblQuery, 0, 0, 1, 2);
        l->addWidget(combQuery, 1, 0);
        l->addWidget(cmdQuery, 1, 1);
        auto *options = new QHBoxLayout;
        options->addWidget(ckNAK);
        options->addWidget(ckByteCnt);
        options->addStretch(1);
        l->addLayout(options, 2, 0, 1, 2);
        l->addWidget(txtResults, 3, 0, 1, 2);
        l->setColumnStretch(0, 1);
        l->setRowStretch(3, 1);
    }

    // Loops and the timer interval.
    frmCmdLp = frame("frmCmdLp", QStringLiteral("Device Command Loop"));
    cmdCmdtst = button("cmdCmdtst", QStringLiteral("Start Loop"),
                       QStringLiteral("Starts output loop using Device Command/query string loop."));
    cmdCmdtstoff = button("cmdCmdtstoff", QStringLiteral("Stop Loop"), QStringLiteral("Stops comand test loop"));
    {
        auto *l = new QHBoxLayout(frmCmdLp);
        l->addWidget(cmdCmdtst);
        l->addWidget(cmdCmdtstoff);
    }
    frmIDNLp = frame("frmIDNLp", QStringLiteral("Query Loop"));
    cmdQtst = button("cmdQtst", QStringLiteral("Run Loop"), QStringLiteral("Starts protocol query loop"));
    cmdQtstOff = button("cmdQtstOff", QStringLiteral("Stop Loop"), QStringLiteral("Stops protocol query loo[p"));
    {
        auto *l = new QHBoxLayout(frmIDNLp);
        l->addWidget(cmdQtst);
        l->addWidget(cmdQtstOff);
    }
    frmTimer = frame("frmTimer", QStringLiteral("Timer Interval"));
    {
        auto *l = new QHBoxLayout(frmTimer);
        auto *group = new QButtonGroup(this);
        const char *captions[] = {"100 ms", "200 ms", "300 ms", "500 ms", "1 sec"};
        for (int i = 0; i < 5; ++i) {
            auto *r = new QRadioButton(QString::fromLatin1(captions[i]));
            r->setObjectName(QStringLiteral("optTime_%1").arg(i));
            group->addButton(r, i);
            optTime.append(r);
            l->addWidget(r);
        }
        connect(group, &QButtonGroup::idClicked, this, &frmMain::optTime_Click);
    }
    lblCount = named(new QLabel(QStringLiteral("Loop Count")), "lblCount");
    txtCount = named(new QLineEdit, "txtCount");
    txtCount->setReadOnly(true);
    txtCount->setMaximumWidth(txtCount->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
    lblCount->setBuddy(txtCount);
    lblLoopStats = named(new QLabel, "lblLoopStats");
    lblLoopStats->setAccessibleName(QStringLiteral("Loop statistics"));
    lblLoopStats->setToolTip(QStringLiteral("Outcomes of the loops' exchanges since each loop started; "
                                            "click for the full statistics"));
    lblLoopStats->hide();
    // Its text grows with the kinds of failure seen; the window keeps its
    // size and the label shows what fits (the statistics window has it all).
    lblLoopStats->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The count keeps its place while hidden, so the window does not change
    // size when it appears.
    for (QWidget *wdg : {static_cast<QWidget *>(lblCount), static_cast<QWidget *>(txtCount)}) {
        QSizePolicy policy = wdg->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        wdg->setSizePolicy(policy);
    }

    txtERROR = named(new QPlainTextEdit, "txtERROR");
    txtERROR->setAccessibleName(QStringLiteral("Error"));
    txtERROR->setFixedHeight(txtERROR->fontMetrics().lineSpacing() * 3 + 12);
    txtERROR->setStyleSheet(QStringLiteral("QPlainTextEdit { color: #b00000; background: #fff4f4; }"));

    // Assemble: left column of frames, right the command and query frames.
    auto *left = new QVBoxLayout;
    {
        auto *buttons = new QHBoxLayout;
        buttons->addWidget(cmdInit);
        buttons->addWidget(cmdHelp);
        buttons->addWidget(cmdExit);
        left->addLayout(buttons);
        auto *modes = new QHBoxLayout;
        modes->addWidget(lblSCPI);
        modes->addWidget(lblX328);
        modes->addWidget(lblXOnXoff);
        modes->addStretch(1);
        left->addLayout(modes);
        left->addWidget(lblLine);
        left->addWidget(Frame2);
        auto *row = new QHBoxLayout;
        row->addWidget(frmReset);
        row->addWidget(frmDisconnect);
        row->addWidget(frmXonXoff);
        left->addLayout(row);
        left->addWidget(frmANSITable);
        left->addWidget(frmCmdLp);
        left->addWidget(frmIDNLp);
        left->addWidget(frmTimer);
        auto *count = new QHBoxLayout;
        count->addWidget(lblCount);
        count->addWidget(txtCount);
        count->addWidget(lblLoopStats, 1);
        left->addLayout(count);
        left->addStretch(1);
    }
    auto *right = new QVBoxLayout;
    right->addWidget(frmDevCmd);
    right->addWidget(frmDevResp, 1);
    right->addWidget(txtERROR);

    auto *title = new QHBoxLayout;
    title->addWidget(ImageVek);
    title->addWidget(Label1, 1);
    title->addWidget(txtRev);

    auto *body = new QHBoxLayout;
    body->addLayout(left);
    body->addLayout(right, 1);

    auto *outer = new QVBoxLayout(central);
    outer->addLayout(title);
    outer->addLayout(body, 1);

    // Tab order follows the frames.
    QWidget *order[] = {cmdInit, cmdHelp, cmdExit, txtAddr, cmdSet, cmdSCPI, cmdDisconnect, cmdXonXoff,
                        cmdLdCmdTable, cmdRdCmdTable, cmdCmdtst, cmdCmdtstoff, cmdQtst, cmdQtstOff,
                        optTime[0], combCmd, cmdSend, combQuery, cmdQuery, ckNAK, ckByteCnt, txtResults};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // Accessible names are the captions, for screen readers.
    for (QPushButton *b : findChildren<QPushButton *>())
        b->setAccessibleName(b->text());
    txtAddr->setAccessibleName(Frame2->title());
    combCmd->setAccessibleName(frmDevCmd->title());
    combQuery->setAccessibleName(QStringLiteral("Query"));
    txtCount->setAccessibleName(lblCount->text());
    txtRev->setAccessibleName(QStringLiteral("Revision"));

    connect(cmdInit, &QPushButton::clicked, this, &frmMain::cmdInit_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(cmdSet, &QPushButton::clicked, this, &frmMain::cmdSet_Click);
    connect(cmdSCPI, &QPushButton::clicked, this, &frmMain::cmdSCPI_Click);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmMain::cmdDisconnect_Click);
    connect(cmdXonXoff, &QPushButton::clicked, this, &frmMain::cmdXonXoff_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(cmdQuery, &QPushButton::clicked, this, &frmMain::cmdQuery_Click);
    connect(cmdLdCmdTable, &QPushButton::clicked, this, &frmMain::cmdLdCmdTable_Click);
    connect(cmdRdCmdTable, &QPushButton::clicked, this, &frmMain::cmdRdCmdTable_Click);
    connect(cmdCmdtst, &QPushButton::clicked, this, &frmMain::cmdCmdtst_Click);
    connect(cmdCmdtstoff, &QPushButton::clicked, this, &frmMain::cmdCmdtstoff_Click);
    connect(cmdQtst, &QPushButton::clicked, this, &frmMain::cmdQtst_Click);
    connect(cmdQtstOff, &QPushButton::clicked, this, &frmMain::cmdQtstOff_Click);
    connect(txtAddr, &QLineEdit::textChanged, this, &frmMain::txtAddr_Change);
    // An editable combo box is the focus proxy of its line edit: the window
    // system delivers keys to the box, which hands them to the line edit by a
    // direct call. Keys are therefore caught on the box; a key sent to the
    // line edit itself (never both for one key) is caught there.
    for (QComboBox *box : {combCmd, combQuery}) {
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
    }

    statusBar()->setSizeGripEnabled(false);
}

void frmMain::Form_Load()
{
    CRLFStr = QByteArray("\r\n");
    txtRev->setText(QStringLiteral("Revised 06-06-2017"));
    txtERROR->clear();
    txtResults->setBytes({});
    combCmd->setEditText(QString());
    txtAddr->setText(QStringLiteral("0"));
    txtCount->hide();
    LpCount = 0;
    cmdExit->setEnabled(true);
    optTime[3]->setChecked(true);
    optTime_Click(3);
    Timer1->start();
    ckByteCnt->setChecked(false);
    txtResults->setEnabled(true);
    txtERROR->setEnabled(false);
    QloopFlg = 0;
    CMDloopFlg = 0;
    lblCount->hide();
    txtERROR->hide();
    applyView(ModeView::Load);
    combCmd->clear();
    combCmd->addItems({QStringLiteral("*esr?"), QStringLiteral("*idn?"), QStringLiteral("*stb?"),
                       QStringLiteral("SYST:LANG X3.28"), QStringLiteral("SYST:LANG XonXoff"), QStringLiteral("@@@")});
    combCmd->setEditText(QString());
    AddrSetFlg = false;
    if (!m_ports)
        m_ports = new frmPorts(*m_map, this);
    showLineTarget();
}

void frmMain::txtAddr_Change()
{
    cmdSet->setEnabled(true);
    AddrSetFlg = false;
    ++m_addrEdits;
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

// ---- Transcript and error box

QByteArray frmMain::resultsText() const
{
    return txtResults->bytes();
}

void frmMain::resultsReplace(const QByteArray &line)
{
    txtResults->setBytes(line);
    noteTranscript(true, line);
}

void frmMain::resultsAppend(const QByteArray &line)
{
    txtResults->appendBytes(CRLFStr, line);
    noteTranscript(false, line);
}

void frmMain::resultsRepaint()
{
    txtResults->repaintSoon();
}

QString frmMain::errorText() const
{
    return txtERROR->toPlainText();
}

bool frmMain::errorShown() const
{
    return !txtERROR->isHidden();
}

void frmMain::reportError(const QString &message, bool withBeep)
{
    m_monitor->note(MonitorRecord::Error, message.toLatin1());
    txtERROR->setPlainText(message);
    txtERROR->show();
    if (withBeep)
        beep();
}

void frmMain::hideError()
{
    txtERROR->hide();
}

void frmMain::beep()
{
    m_seams->beep();
}

// ---- One exchange at a time

namespace {
const QString kBusyMessage =
    QStringLiteral("Busy: the previous exchange is still waiting for its reply; try again when it ends");
} // namespace

bool frmMain::tryBegin()
{
    if (m_line.tryBegin())
        return true;
    // Said in the status bar, which the end of the waiting operation clears:
    // the error box keeps the exchanges' own errors.
    if (m_line.state() != LineLock::State::Exiting) {
        statusBar()->showMessage(kBusyMessage);
        beep();
    }
    return false;
}

void frmMain::endOperation()
{
    const LineLock::Due due = m_line.end();
    if (statusBar()->currentMessage() == kBusyMessage)
        statusBar()->clearMessage();
    if (due.lineLost)
        showLineLost();
    // The log holds each operation as soon as it has ended; a line closed
    // or lost meanwhile ends its file.
    flushLog();
    if (!MSComm1->PortOpen())
        finishLog();
    if (due.exit)
        performExit();
}

bool frmMain::requirePort()
{
    if (MSComm1->PortOpen())
        return true;
    if (!m_lossMessage.isEmpty())
        reportError(QStringLiteral("The COM port is closed: %1. Use Initialize COM Port to open it again.").arg(m_lossMessage));
    else
        reportError(QStringLiteral("The COM port is not open: use Initialize COM Port first."));
    return false;
}

void frmMain::onPortLost(const QString &reason)
{
    m_lossMessage = QStringLiteral("COM %1 (%2) was lost: %3").arg(MSComm1->CommPort()).arg(MSComm1->deviceName(), reason);
    showLineTarget();
    // A wait in progress reports the loss itself when it ends; the rest
    // follows the end of the operation, after its own view changes.
    if (m_line.lineLost()) {
        showLineLost();
        finishLog();
    }
}

void frmMain::showLineLost()
{
    // Said unless a wait of the operation said it already (lost while the
    // input was drained before a write that needs no answer, or in the very
    // poll that ended a wait by its count, no wait did).
    const QString loss = m_lossMessage + QStringLiteral("; the port is closed.");
    if (!errorShown())
        reportError(loss);
    else if (!errorText().contains(m_lossMessage))
        reportError(errorText() + QLatin1Char('\n') + loss, false);
    applyView(ModeView::PortClosed);
}

void frmMain::reportLineClosed()
{
    reportError(m_lossMessage.isEmpty() ? QStringLiteral("The COM port was closed during the exchange.")
                                        : m_lossMessage + QStringLiteral("; the port is closed."));
}

void frmMain::applyView(ModeView view)
{
    const ViewRow &row = viewRow(view);
    if (row.mode)
        cmdMode = row.mode;
    const auto show = [](QWidget *w, Tri on) {
        if (on != Tri::Keep)
            w->setVisible(on == Tri::On);
    };
    show(lblSCPI, row.lblSCPI);
    show(lblX328, row.lblX328);
    show(lblXOnXoff, row.lblXOnXoff);
    QPushButton *const buttons[kViewButtonCount] = {cmdSet,  cmdDisconnect, cmdSCPI,   cmdXonXoff,   cmdSend,       cmdQuery,
                                                    cmdQtst, cmdQtstOff,    cmdCmdtst, cmdCmdtstoff, cmdLdCmdTable, cmdRdCmdTable};
    for (int i = 0; i < kViewButtonCount; ++i)
        if (row.buttons[i] != Tri::Keep)
            buttons[i]->setEnabled(row.buttons[i] == Tri::On);
    if (row.cmdLbl)
        cmdLbl->setText(QString::fromLatin1(row.cmdLbl));
    if (row.frmDevCmd)
        frmDevCmd->setTitle(QString::fromLatin1(row.frmDevCmd));
    if (row.frmDevResp)
        frmDevResp->setTitle(QString::fromLatin1(row.frmDevResp));
    if (row.focusEntry) {
        combCmd->setFocus();
        combCmd->setEditText(QString());
    }
}

void frmMain::showLineTarget()
{
    // The "simulator" property tells others (the Simulator menu) whether the
    // line goes to the simulated converter; they see it change as an event.
    if (!MSComm1->PortOpen()) {
        lblLine->setText(m_lossMessage.isEmpty() ? QStringLiteral("Line: port closed")
                                                 : QStringLiteral("Line: port closed (lost)"));
        lblLine->setStyleSheet(QString());
        lblLine->setProperty("simulator", false);
        return;
    }
    // Judged by the device actually opened, not by the mapping as it is now.
    const bool simulated = m_map->isSimulatorDevice(MSComm1->deviceName());
    if (simulated) {
        lblLine->setText(QStringLiteral("Line: COM %1 -> %2 (%3), no hardware")
                             .arg(MSComm1->CommPort())
                             .arg(ComPortMap::simulatorName(), MSComm1->deviceName()));
        lblLine->setStyleSheet(QStringLiteral("QLabel { color: white; background: #a05a00; font-weight: bold; padding: 2px; }"));
    } else {
        lblLine->setText(QStringLiteral("Line: COM %1 -> %2, %3")
                             .arg(MSComm1->CommPort())
                             .arg(MSComm1->deviceName(), MSComm1->Settings()));
        lblLine->setStyleSheet(QString());
    }
    lblLine->setProperty("simulator", simulated);
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
    // While an exchange waits, it ends at its next poll and the exit follows.
    if (m_line.requestExit())
        performExit();
}

void frmMain::performExit()
{
    shutdownLine();
    close();
    m_seams->endProgram();
}

// The orderly end of the line: DLE ENQ when a port is open, 0.3 s for it to
// leave, then the port is closed.
void frmMain::shutdownLine()
{
    m_line.exiting();
    Timer1->stop();
    if (CommPortNum != 0 && MSComm1->PortOpen()) {
        MSComm1->Output(FrameDisconnect());
        Tdelay(0.3);
        MSComm1->PortOpen(false);
    }
    finishLog();
    if (m_ports)
        m_ports->hide();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_line.state() == LineLock::State::Exiting) {
        event->accept();
        return;
    }
    // The window's own close control ends the program the orderly way; while
    // an exchange waits, the exit follows when it has ended.
    if (!m_line.requestExit()) {
        event->ignore();
        return;
    }
    shutdownLine();
    event->accept();
    m_seams->endProgram();
}
