// SPDX-License-Identifier: MIT
// The main window's layout: one builder a frame, then the columns, the tab
// order, the names a screen reader says and the handlers' wiring.

#include "app/frmMain.h"

#include "serial/CaptionButton.h"
#include "app/Logo.h"
#include "app/TranscriptBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <iterator>

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

// A frame holding its widgets in a row.
void inRow(QGroupBox *box, std::initializer_list<QWidget *> widgets)
{
    auto *l = new QHBoxLayout(box);
    for (QWidget *w : widgets)
        l->addWidget(w);
}

QComboBox *entryBox(const char *name, int minimumChars, const QString &tip = {})
{
    auto *box = named(new QComboBox, name, tip);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // The operator's text goes out as typed: no inline completion, no case change.
    box->setCompleter(nullptr);
    box->setMinimumContentsLength(minimumChars);
    return box;
}
} // namespace

void frmMain::buildUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    QHBoxLayout *title = buildTitleRow();
    buildShellControls();
    buildAddressFrames();
    buildTableFrame();
    buildCommandFrame();
    buildQueryFrame();
    buildLoopFrames();
    buildErrorBox();

    auto *right = new QVBoxLayout;
    right->addWidget(frmDevCmd);
    right->addWidget(frmDevResp, 1);
    right->addWidget(txtERROR);
    auto *body = new QHBoxLayout;
    body->addLayout(assembleLeftColumn());
    body->addLayout(right, 1);
    auto *outer = new QVBoxLayout(central);
    outer->addLayout(title);
    outer->addLayout(body, 1);

    setTabOrderAndNames();
    connectHandlers();
    for (int i = 0; i < kViewButtonCount; ++i)
        m_viewButtons[size_t(i)] = findChild<QPushButton *>(QLatin1String(kViewButtons[i]));
    statusBar()->setSizeGripEnabled(false);
}

// Logo, title, revision.
QHBoxLayout *frmMain::buildTitleRow()
{
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
    auto *title = new QHBoxLayout;
    title->addWidget(ImageVek);
    title->addWidget(Label1, 1);
    title->addWidget(txtRev);
    return title;
}

// Port, help, exit; the mode labels; where the line goes.
void frmMain::buildShellControls()
{
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
}

// The X3.28 address and link; the three mode buttons in their frames.
void frmMain::buildAddressFrames()
{
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
    inRow(frmReset, {cmdSCPI});
    frmDisconnect = frame("frmDisconnect", QStringLiteral("Disconnect Link"));
    cmdDisconnect = button("cmdDisconnect", QStringLiteral("Disconnect"),
                           QStringLiteral("Sends X3.28 disconnect message and puts the program into the X3.28 mode."));
    inRow(frmDisconnect, {cmdDisconnect});
    frmXonXoff = frame("frmXonXoff", QStringLiteral("Xo-Xoff Mode"));
    cmdXonXoff = button("cmdXonXoff", QStringLiteral("  Run   Xon-Xoff"), QStringLiteral("Sets program to XonXoff mode."));
    inRow(frmXonXoff, {cmdXonXoff});
}

void frmMain::buildTableFrame()
{
    frmANSITable = frame("frmANSITable", QStringLiteral("ANSI Command Table"));
    cmdLdCmdTable = button(
        "cmdLdCmdTable", QStringLiteral("Load Examples"),
        QStringLiteral("Loads the ANSI Command Table with sample commands for EZ Zone or F4 Watlow Controllers."));
    cmdRdCmdTable = button("cmdRdCmdTable", QStringLiteral("Read Table"), QStringLiteral("Displays ANSI Table contents."));
    inRow(frmANSITable, {cmdLdCmdTable, cmdRdCmdTable});
}

void frmMain::buildCommandFrame()
{
    frmDevCmd = frame("frmDevCmd", QStringLiteral("Device Commands and Queries"));
    combCmd = entryBox("combCmd", 28, QStringLiteral("Enter Device Command strings"));
    cmdSend = button("cmdSend", QStringLiteral("Send"), QStringLiteral("Sends Device Command and querie to the Orna."));
    cmdLbl = named(new QLabel(QStringLiteral("Enter SCPI and Modbus commands")), "cmdLbl");
    auto *l = new QGridLayout(frmDevCmd);
    l->addWidget(cmdLbl, 0, 0, 1, 2);
    l->addWidget(combCmd, 1, 0);
    l->addWidget(cmdSend, 1, 1);
    l->setColumnStretch(0, 1);
}

// Queries, their two options and the transcript.
void frmMain::buildQueryFrame()
{
    frmDevResp = frame("frmDevResp", QStringLiteral("X3.28 Query Only"));
    combQuery = entryBox("combQuery", 12);
    cmdQuery = button("cmdQuery", QStringLiteral("Send Query"), QStringLiteral("Sends X3.28 or XonXoff queries to the Orna."));
    ckNAK = named(new QCheckBox(QStringLiteral("Send one NAK for Data")), "ckNAK");
    ckByteCnt = named(new QCheckBox(QStringLiteral("Display Character Count")), "ckByteCnt",
                      QStringLiteral("Displays number of received characters"));
    lblQuery = named(new QLabel(QStringLiteral("Enter only the parameter to be queried.  i.e. C1")), "lblQuery");
    txtResults = named(new TranscriptBox, "txtResults");
    txtResults->setAccessibleName(QStringLiteral("Transcript"));
    txtResults->setMinimumSize(440, 220);
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

// The two loops, the timer interval, the count and the loops' outcomes.
void frmMain::buildLoopFrames()
{
    frmCmdLp = frame("frmCmdLp", QStringLiteral("Device Command Loop"));
    cmdCmdtst = button("cmdCmdtst", QStringLiteral("Start Loop"),
                       QStringLiteral("Starts output loop using Device Command/query string loop."));
    cmdCmdtstoff = button("cmdCmdtstoff", QStringLiteral("Stop Loop"), QStringLiteral("Stops comand test loop"));
    inRow(frmCmdLp, {cmdCmdtst, cmdCmdtstoff});
    frmIDNLp = frame("frmIDNLp", QStringLiteral("Query Loop"));
    cmdQtst = button("cmdQtst", QStringLiteral("Run Loop"), QStringLiteral("Starts protocol query loop"));
    cmdQtstOff = button("cmdQtstOff", QStringLiteral("Stop Loop"), QStringLiteral("Stops protocol query loo[p"));
    inRow(frmIDNLp, {cmdQtst, cmdQtstOff});
    frmTimer = frame("frmTimer", QStringLiteral("Timer Interval"));
    auto *row = new QHBoxLayout(frmTimer);
    auto *group = new QButtonGroup(this);
    const char *captions[] = {"100 ms", "200 ms", "300 ms", "500 ms", "1 sec"};
    for (int i = 0; i < int(std::size(captions)); ++i) {
        auto *r = new QRadioButton(QString::fromLatin1(captions[i]));
        r->setObjectName(QStringLiteral("optTime_%1").arg(i));
        group->addButton(r, i);
        optTime.append(r);
        row->addWidget(r);
    }
    connect(group, &QButtonGroup::idClicked, this, &frmMain::optTime_Click);

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
}

void frmMain::buildErrorBox()
{
    txtERROR = named(new QPlainTextEdit, "txtERROR");
    txtERROR->setAccessibleName(QStringLiteral("Error"));
    txtERROR->setFixedHeight(txtERROR->fontMetrics().lineSpacing() * 3 + 12);
    txtERROR->setStyleSheet(QStringLiteral("QPlainTextEdit { color: #b00000; background: #fff4f4; }"));
}

// The left column of frames; the command and query frames stand right.
QVBoxLayout *frmMain::assembleLeftColumn()
{
    auto *left = new QVBoxLayout;
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
    return left;
}

void frmMain::setTabOrderAndNames()
{
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
}

void frmMain::connectHandlers()
{
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
}
