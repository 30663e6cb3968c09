// SPDX-License-Identifier: MIT
// The main window headless: start-up state, the port dialog, cmdInit, help
// and exit, Enter in the entry boxes, the loop controls; the session log, and
// the line monitor, statistics and help windows reached by their keys.

#include "app/HelpWindow.h"
#include "app/LineMonitorView.h"
#include "app/LoopStatsWindow.h"
#include "app/TranscriptBox.h"
#include "app/UiSeams.h"
#include "exchange/Protocol.h"
#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/PortSelection.h"
#include "serial/SessionLog.h"
#include "serial/frmPorts.h"
#include "app/PlanPanel.h"
#include "plan/PlanRecorder.h"
#include "plan/PlanRunner.h"
#include "support/SimHarness.h"
#include "support/UserInput.h"
#include "support/WindowHarness.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTest>
#include <QTimer>
#include <QRegularExpression>

Q_DECLARE_METATYPE(ModeView)

// Counts the paints a widget receives.
struct PaintCount : QObject
{
    int n = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        n += event->type() == QEvent::Paint;
        return false;
    }
};

class TestWindow : public QObject
{
    Q_OBJECT

    static QStringList enabledButtons(frmMain &w)
    {
        QStringList out;
        for (const char *name : {"cmdInit", "cmdHelp", "cmdExit", "cmdSet", "cmdSend", "cmdQuery", "cmdQtst",
                                 "cmdQtstOff", "cmdCmdtst", "cmdCmdtstoff", "cmdDisconnect", "cmdSCPI", "cmdXonXoff",
                                 "cmdLdCmdTable", "cmdRdCmdTable"}) {
            auto *b = w.findChild<QPushButton *>(QLatin1String(name));
            if (b && b->isEnabled())
                out << QLatin1String(name);
        }
        return out;
    }

private slots:
    void startupState()
    {
        WindowHarness h;
        frmMain &w = *h.w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Vek OrnaSerTest Program"));
        QCOMPARE(w.findChild<QLabel *>("Label1")->text(), QStringLiteral("Vek Orna Serial Test Program"));
        QVERIFY(!w.findChild<QLabel *>("ImageVek")->pixmap().isNull());
        QCOMPARE(w.findChild<QLineEdit *>("txtRev")->text(), QStringLiteral("Revised 06-06-2017"));
        QCOMPARE(w.CRLFStr, QByteArray("\r\n"));
        QCOMPARE(w.cmdMode, QByteArray("SCPI"));
        QVERIFY(!w.AddrSetFlg);
        QCOMPARE(w.LpCount, 0);
        QCOMPARE(w.CMDloopFlg, 0);
        QCOMPARE(w.QloopFlg, 0);
        QCOMPARE(w.resultsText(), QByteArray());
        QCOMPARE(w.errorText(), QString());
        QVERIFY(!w.errorShown());
        QVERIFY(!w.txtERROR->isEnabled());
        QVERIFY(w.txtResults->isEnabled());
        QCOMPARE(w.txtAddr->text(), QStringLiteral("0"));
        QCOMPARE(w.combCmd->currentText(), QString());
        QStringList items;
        for (int i = 0; i < w.combCmd->count(); ++i)
            items << w.combCmd->itemText(i);
        QCOMPARE(items, (QStringList{"*esr?", "*idn?", "*stb?", "SYST:LANG X3.28", "SYST:LANG XonXoff", "@@@"}));
        QCOMPARE(w.combQuery->count(), 0);
        QVERIFY(!w.lblSCPI->isHidden());
        QVERIFY(w.lblX328->isHidden());
        QVERIFY(w.lblXOnXoff->isHidden());
        QVERIFY(w.txtCount->isHidden());
        QVERIFY(w.lblCount->isHidden());
        QCOMPARE(w.cmdLbl->text(), QStringLiteral("Enter SCPI and Modbus commands"));
        QCOMPARE(w.frmDevCmd->title(), QStringLiteral("Device Commands and Queries"));
        QCOMPARE(w.frmDevResp->title(), QStringLiteral("X3.28 Query Only"));
        QVERIFY(!w.ckByteCnt->isChecked());
        QCOMPARE(enabledButtons(w), (QStringList{"cmdInit", "cmdHelp", "cmdExit"}));
        QCOMPARE(w.Timer1->interval(), 500);
        QVERIFY(w.Timer1->isActive());
        QVERIFY(w.optTime[3]->isChecked());
        QVERIFY(!w.MSComm1->PortOpen());
        QVERIFY(w.portsDialog() && w.portsDialog()->isHidden());
        QCOMPARE(h.port->openCount, 0);
        // The menus hold their commands; the monitor and the plan's panel wait to be asked for.
        QVERIFY(w.mnuHelp->actions().contains(w.actAbout) && w.mnuPlan->actions().contains(w.actRunPlan));
        QVERIFY(w.dockMonitor->isHidden() && w.dockPlan->isHidden());
    }

    // Every control carries its name, caption and tooltip.
    void captionsAndTooltips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tip");
        QTest::newRow("cmdInit") << "cmdInit" << "Initialize COM Port" << "Initializes PC COM ports";
        QTest::newRow("cmdHelp") << "cmdHelp" << "Help" << "Displays help file";
        QTest::newRow("cmdExit") << "cmdExit" << "Exit" << "Ends program.";
        QTest::newRow("cmdSet") << "cmdSet" << " Set Address and          Open Link"
                                << "Updates device addess and piuts the program into the X3.28 mode.";
        QTest::newRow("cmdSCPI") << "cmdSCPI" << "SCPI" << "Sets Orna and Program to SCPI mode.";
        QTest::newRow("cmdDisconnect") << "cmdDisconnect" << "Disconnect"
                                       << "Sends X3.28 disconnect message and puts the program into the X3.28 mode.";
        QTest::newRow("cmdXonXoff") << "cmdXonXoff" << "  Run   Xon-Xoff" << "Sets program to XonXoff mode.";
        QTest::newRow("cmdSend") << "cmdSend" << "Send" << "Sends Device Command and querie to the Orna.";
        QTest::newRow("cmdQuery") << "cmdQuery" << "Send Query" << "Sends X3.28 or XonXoff queries to the Orna.";
        QTest::newRow("cmdCmdtst") << "cmdCmdtst" << "Start Loop" << "Starts output loop using Device Command/query string loop.";
        QTest::newRow("cmdCmdtstoff") << "cmdCmdtstoff" << "Stop Loop" << "Stops comand test loop";
        QTest::newRow("cmdQtst") << "cmdQtst" << "Run Loop" << "Starts protocol query loop";
        QTest::newRow("cmdQtstOff") << "cmdQtstOff" << "Stop Loop" << "Stops protocol query loo[p";
        QTest::newRow("cmdLdCmdTable") << "cmdLdCmdTable" << "Load Examples"
                                       << "Loads the ANSI Command Table with sample commands for EZ Zone or F4 Watlow Controllers.";
        QTest::newRow("cmdRdCmdTable") << "cmdRdCmdTable" << "Read Table" << "Displays ANSI Table contents.";
        QTest::newRow("ckNAK") << "ckNAK" << "Send one NAK for Data" << "";
        QTest::newRow("ckByteCnt") << "ckByteCnt" << "Display Character Count" << "Displays number of received characters";
        QTest::newRow("txtAddr") << "txtAddr" << "0" << "Enter device addess 1 to 15";
        QTest::newRow("combCmd") << "combCmd" << "" << "Enter Device Command strings";
        QTest::newRow("lblQuery") << "lblQuery" << "Enter only the parameter to be queried.  i.e. C1" << "";
        QTest::newRow("lblSCPI") << "lblSCPI" << "SCPI Mode Enabled" << "";
        QTest::newRow("lblX328") << "lblX328" << "X3.28 Mode Enabled" << "";
        QTest::newRow("lblXOnXoff") << "lblXOnXoff" << "Xon/Xoff Mode" << "";
        QTest::newRow("lblCount") << "lblCount" << "Loop Count" << "";
        QTest::newRow("Frame2") << "Frame2" << "X3.28 Device Address" << "";
        QTest::newRow("frmReset") << "frmReset" << "Go to SCPI Mode" << "";
        QTest::newRow("frmDisconnect") << "frmDisconnect" << "Disconnect Link" << "";
        QTest::newRow("frmXonXoff") << "frmXonXoff" << "Xo-Xoff Mode" << "";
        QTest::newRow("frmCmdLp") << "frmCmdLp" << "Device Command Loop" << "";
        QTest::newRow("frmIDNLp") << "frmIDNLp" << "Query Loop" << "";
        QTest::newRow("frmTimer") << "frmTimer" << "Timer Interval" << "";
        QTest::newRow("frmANSITable") << "frmANSITable" << "ANSI Command Table" << "";
        for (int i = 0; i < 5; ++i) {
            const char *caps[] = {"100 ms", "200 ms", "300 ms", "500 ms", "1 sec"};
            QTest::newRow(qPrintable(QStringLiteral("optTime_%1").arg(i)))
                << QStringLiteral("optTime_%1").arg(i) << QString::fromLatin1(caps[i]) << "";
        }
        // The port dialog.
        QTest::newRow("lblTitle") << "lblTitle" << "Select Baud Rate, Format and then COM Port" << "";
        QTest::newRow("frmBaud") << "frmBaud" << "Baud Rate" << "Select a baud rate";
        QTest::newRow("frmBits") << "frmBits" << "Character Format" << "";
        for (int i = 0; i < 5; ++i) {
            const char *caps[] = {"1200", "2400", "9600", "19200", "38400"};
            QTest::newRow(qPrintable(QStringLiteral("optBaud_%1").arg(i)))
                << QStringLiteral("optBaud_%1").arg(i) << QString::fromLatin1(caps[i]) << "";
        }
        QTest::newRow("opt7O") << "opt7O" << "7 Bits, Odd Par" << "";
        QTest::newRow("opt7E") << "opt7E" << "7 bits, Even Par" << "";
        QTest::newRow("optCh8") << "optCh8" << "8 Bits, None" << "";
        for (int n = 1; n <= 6; ++n)
            QTest::newRow(qPrintable(QStringLiteral("cmdCOM%1").arg(n)))
                << QStringLiteral("cmdCOM%1").arg(n) << QStringLiteral("COM %1").arg(n)
                << (n <= 4 ? QStringLiteral("Initializes COM Port %1").arg(n) : QString());
    }
    void captionsAndTooltips()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, tip);
        WindowHarness h;
        QWidget *wdg = h.w->findChild<QWidget *>(name);
        QVERIFY2(wdg, qPrintable(name));
        QString text;
        if (auto *b = qobject_cast<QAbstractButton *>(wdg))
            text = b->text();
        else if (auto *l = qobject_cast<QLabel *>(wdg))
            text = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(wdg))
            text = e->text();
        else if (auto *g = qobject_cast<QGroupBox *>(wdg))
            text = g->title();
        else if (auto *c = qobject_cast<QComboBox *>(wdg))
            text = c->currentText();
        QCOMPARE(text, caption);
        QCOMPARE(wdg->toolTip(), tip);
        // Every caption of the main window fits its control at the laid-out size.
        h.w->adjustSize();
        if (auto *b = qobject_cast<QPushButton *>(wdg); b && b->window() == h.w.get()) {
            QVERIFY(b->sizeHint().width() <= b->width() || b->width() == 0 || b->isHidden());
            // A screen reader says the caption itself; a caption padded
            // with a run of blanks is laid out on two lines.
            QCOMPARE(b->accessibleName(), caption);
            const bool twoLines = caption.trimmed().contains(QLatin1String("   "));
            QCOMPARE(b->sizeHint().height() > QPushButton(QStringLiteral("Send")).sizeHint().height(), twoLines);
        }
    }

    // An edit of the address, also one during the link-open wait, asks for
    // cmdSet again: the link opened with the old address leaves the flag clear.
    void addressEditEnablesSetAndClearsFlag()
    {
        WindowHarness h;
        h.w->AddrSetFlg = true;
        QVERIFY(!h.w->cmdSet->isEnabled());
        QTest::keyClick(h.w->txtAddr, Qt::Key_5);
        QVERIFY(h.w->cmdSet->isEnabled());
        QVERIFY(!h.w->AddrSetFlg);
        h.init(1);
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.script({{0, 5, "5\x06"}});
        QTimer::singleShot(0, h.w.get(), [&h] { QTest::keyClick(h.w->txtAddr, Qt::Key_7); });
        h.w->cmdSet_Click();
        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(!h.w->AddrSetFlg);
    }

    void portDialogDefaultsAndSettings()
    {
        WindowHarness h;
        frmPorts &d = *h.w->portsDialog();
        QCOMPARE(d.windowTitle(), QStringLiteral("Set COM Ports"));
        QVERIFY(d.optBaud[2]->isChecked());
        QVERIFY(d.optCh8->isChecked());
        QCOMPARE(d.cmdExit->text(), QStringLiteral("Return to    Main Form")); // the other captions: captionsAndTooltips
        QCOMPARE(PortSettings, QString());

        d.cmdCOM2_Click();
        d.cmdExit_Click();
        QCOMPARE(CommPortNum, 2);
        QCOMPARE(PortSettings, QStringLiteral("9600,N,8,1"));

        d.optBaud_Click(4);
        d.opt7E_Click();
        d.cmdCOM1_Click();
        d.cmdCOM3_Click(); // the last one pressed counts
        d.cmdExit_Click();
        QCOMPARE(PortSettings, QStringLiteral("38400,E,7,1"));
        QCOMPARE(CommPortNum, 3);
        for (int n = 1; n <= 6; ++n) // the port last pressed is marked
            QCOMPARE(d.cmdCOM[n - 1]->isChecked(), n == 3);
        d.opt7O_Click();
        d.optBaud_Click(7); // no such member: nothing changes
        d.cmdExit_Click();
        QCOMPARE(PortSettings, QStringLiteral("38400,O,7,1"));
        d.optCh8_Click();
        d.optBaud_Click(0);
        d.cmdExit_Click();
        QCOMPARE(PortSettings, QStringLiteral("1200,N,8,1"));

        // As a person uses it: the system's devices are read once for the
        // run, the chosen port shows pressed, a click on another port marks
        // that one, and Enter leaves the dialog by "Return to    Main Form",
        // from the buttons and from the device boxes alike.
        QCOMPARE(d.cmdExit->accessibleName(), QStringLiteral("Return to    Main Form"));
        QVERIFY(d.cmdExit->isDefault());
        const int reads = h.map.systemReads();
        d.beginChoice();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(h.map.systemReads(), reads + 1);
        QVERIFY(d.cmdCOM[2]->isChecked());
        QTest::mouseClick(d.cmdCOM[1], Qt::LeftButton);
        QVERIFY(d.cmdCOM[1]->isChecked() && !d.cmdCOM[2]->isChecked());
        QTest::keyClick(d.windowHandle(), Qt::Key_Return);
        QVERIFY(d.isHidden());
        QCOMPARE(CommPortNum, 2);
        QCOMPARE(PortSettings, QStringLiteral("1200,N,8,1"));
        d.beginChoice();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTest::mouseClick(d.cmbDevice[3]->lineEdit(), Qt::LeftButton);
        QVERIFY(d.cmbDevice[3]->hasFocus());
        QTest::keyClick(d.windowHandle(), Qt::Key_Enter);
        QVERIFY(d.isHidden());
        QCOMPARE(CommPortNum, 2);
        QVERIFY(d.cmdCOM[1]->isChecked());
        // Tab walks every port button and its device box, in order, from
        // the character format on, whichever button is down.
        d.beginChoice();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.optCh8->setFocus();
        QStringList walked;
        for (int i = 0; i < 13; ++i) {
            QTest::keyClick(d.windowHandle(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, (QStringList{"cmdCOM1", "cmbDevice1", "cmdCOM2", "cmbDevice2", "cmdCOM3", "cmbDevice3",
                                      "cmdCOM4", "cmbDevice4", "cmdCOM5", "cmbDevice5", "cmdCOM6", "cmbDevice6",
                                      "cmdExit"}));
        d.reject();

        // A typed path is the path, exactly: blanks and parentheses are part
        // of it (never a description to cut off), and the list beside the
        // box completes nothing ("/dev/tty" is not "/dev/ttyS0").
        const QList<std::pair<int, QString>> typed{{4, QStringLiteral("a  (b)")}, {5, QStringLiteral("/dev/tty")},
                                                   {6, QStringLiteral(" /tmp/line ")}};
        for (const auto &[number, path] : typed) {
            d.beginChoice();
            d.show();
            QVERIFY(QTest::qWaitForWindowActive(&d));
            User::typeInto(d.cmbDevice[number - 1], path);
            QTest::keyClick(d.windowHandle(), Qt::Key_Return);
            QVERIFY(d.isHidden());
            QCOMPARE(h.map.entry(number).path, path);
            QCOMPARE(h.map.resolve(number, nullptr), path);
            // Shown again as typed, and taken again unchanged.
            d.beginChoice();
            QCOMPARE(d.cmbDevice[number - 1]->currentText(), path);
            d.deviceChosen(number);
            QCOMPARE(h.map.entry(number).path, path);
        }
    }

    // The window's close control on the dialog is leaving without a new
    // choice; the port is never opened with an empty settings text.
    void dialogClosedByWindowControl()
    {
        WindowHarness h;
        h.seams.dialog = [](frmPorts &d) {
            d.cmdCOM2_Click();
            d.reject();
        };
        h.w->cmdInit_Click();
        QCOMPARE(CommPortNum, 0);
        QCOMPARE(h.w->errorText(), QStringLiteral("No COM Port Selected"));
        QCOMPARE(h.port->openCount, 0);

        // An earlier choice survives a dialog closed by its window control.
        h.init(2);
        QCOMPARE(h.port->CommPort(), 2);
        h.seams.dialog = [](frmPorts &d) {
            d.cmdCOM4_Click();
            d.reject();
        };
        h.w->cmdInit_Click();
        QCOMPARE(CommPortNum, 2);
        QVERIFY(h.w->MSComm1->PortOpen());
        QCOMPARE(h.w->portsDialog()->result(), int(QDialog::Rejected)); // the close control closed it
    }

    void initWithoutPortChoice()
    {
        WindowHarness h;
        h.w->resultsReplace("old");
        h.w->cmdInit_Click();
        QCOMPARE(h.seams.dialogRuns, 1);
        QCOMPARE(h.w->errorText(), QStringLiteral("No COM Port Selected"));
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.port->openCount, 0);
        QCOMPARE(h.transcript(), QByteArray("old"));
        QCOMPARE(enabledButtons(*h.w), (QStringList{"cmdInit", "cmdHelp", "cmdExit"}));
    }

    void initOpensInScpiMode()
    {
        WindowHarness h;
        h.w->CmdStr = "old";
        h.w->AddrSetFlg = true;
        h.w->AddrStr = "5";
        h.w->cmdMode = "X3.28";
        h.w->lblX328->show();
        h.w->lblXOnXoff->show();
        h.w->resultsReplace("old transcript");
        h.w->reportError("old error", false);
        h.init(2);
        QVERIFY(h.w->MSComm1->PortOpen());
        QCOMPARE(h.port->CommPort(), 2);
        QCOMPARE(h.port->Settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(h.port->rts);
        QVERIFY(h.port->dtr);
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.transcript(), QByteArray());
        QCOMPARE(h.w->errorText(), QString());
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.w->CmdStr, QByteArray());
        QVERIFY(h.w->AddrSetFlg); // the address state is kept
        QCOMPARE(h.w->AddrStr, QByteArray("5"));
        QVERIFY(!h.w->lblSCPI->isHidden());
        QVERIFY(h.w->lblX328->isHidden());
        QVERIFY(h.w->lblXOnXoff->isHidden());
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Query not active in SCPI mode"));
        QCOMPARE(enabledButtons(*h.w),
                 (QStringList{"cmdInit", "cmdHelp", "cmdExit", "cmdSet", "cmdSend", "cmdQtst", "cmdCmdtst",
                              "cmdDisconnect", "cmdSCPI", "cmdXonXoff", "cmdLdCmdTable", "cmdRdCmdTable"}));
        QCOMPARE(h.takeWritten(), QByteArray()); // nothing sent to the converter
    }

    void reinitClosesThenReopens()
    {
        WindowHarness h;
        h.init(1);
        bool closedDuringDialog = false;
        h.seams.dialog = [&](frmPorts &d) {
            closedDuringDialog = !h.port->PortOpen();
            d.optBaud_Click(3);
            d.cmdExit_Click(); // no new port button: the previous port stays chosen
        };
        h.w->cmdInit_Click();
        QVERIFY(closedDuringDialog);
        QVERIFY(h.port->PortOpen());
        QCOMPARE(h.port->openCount, 2);
        QCOMPARE(h.port->CommPort(), 1);
        QCOMPARE(h.port->Settings(), QStringLiteral("19200,N,8,1"));
    }

    // Each operation's view row reaches the control it names, and a control
    // the row keeps is left as it was, whatever state it is in.
    void viewRowsApplied_data()
    {
        QTest::addColumn<ModeView>("view");
        QTest::addColumn<bool>("start"); // every control on, or every one off, before
        for (ModeView v : {ModeView::Load, ModeView::Init, ModeView::PortClosed, ModeView::ScpiButton,
                           ModeView::LinkOpen, ModeView::Disconnect, ModeView::XonXoffButton, ModeView::SwitchX328,
                           ModeView::SwitchXonXoff, ModeView::Escape})
            for (bool start : {false, true})
                QTest::addRow("view %d, all %s", int(v), start ? "on" : "off") << v << start;
    }
    void viewRowsApplied()
    {
        QFETCH(ModeView, view);
        QFETCH(bool, start);
        WindowHarness h;
        frmMain &w = *h.w;
        for (const char *name : kViewButtons)
            w.findChild<QPushButton *>(QLatin1String(name))->setEnabled(start);
        for (QLabel *l : {w.lblSCPI, w.lblX328, w.lblXOnXoff})
            l->setVisible(start);
        w.cmdMode = "before";
        w.cmdLbl->setText("before");
        w.frmDevCmd->setTitle("before");
        w.frmDevResp->setTitle("before");
        w.combCmd->setEditText("typed");

        w.applyView(view);

        const ViewRow &row = viewRow(view);
        const auto expect = [start](Tri t) { return t == Tri::Keep ? start : t == Tri::On; };
        for (int i = 0; i < kViewButtonCount; ++i)
            QVERIFY2(w.findChild<QPushButton *>(QLatin1String(kViewButtons[i]))->isEnabled() == expect(row.buttons[i]),
                     kViewButtons[i]);
        QCOMPARE(!w.lblSCPI->isHidden(), expect(row.lblSCPI));
        QCOMPARE(!w.lblX328->isHidden(), expect(row.lblX328));
        QCOMPARE(!w.lblXOnXoff->isHidden(), expect(row.lblXOnXoff));
        QCOMPARE(w.cmdMode, QByteArray(row.mode ? row.mode : "before"));
        QCOMPARE(w.cmdLbl->text(), QString::fromLatin1(row.cmdLbl ? row.cmdLbl : "before"));
        QCOMPARE(w.frmDevCmd->title(), QString::fromLatin1(row.frmDevCmd ? row.frmDevCmd : "before"));
        QCOMPARE(w.frmDevResp->title(), QString::fromLatin1(row.frmDevResp ? row.frmDevResp : "before"));
        QCOMPARE(w.combCmd->currentText(), row.focusEntry ? QString() : QStringLiteral("typed"));
    }

    // A port that will not open leaves the window as after load in all that
    // needs the port, also when a session in another mode came before.
    void openFailureIsReported_data()
    {
        QTest::addColumn<bool>("sessionBefore");
        QTest::newRow("first open") << false;
        QTest::newRow("after an X3.28 session") << true;
    }
    void openFailureIsReported()
    {
        QFETCH(bool, sessionBefore);
        WindowHarness h;
        if (sessionBefore) {
            h.init(1);
            h.w->cmdDisconnect_Click(); // X3.28 mode, its labels and captions
            h.w->txtAddr->setText(QStringLiteral("5"));
        }
        h.port->failOpen = true;
        h.port->failReason = QStringLiteral("the device is in use by another program");
        h.init(3);
        QVERIFY(!h.port->PortOpen());
        QVERIFY(h.w->errorShown());
        QVERIFY(h.w->errorText().contains(QStringLiteral("COM 3")));
        QVERIFY(h.w->errorText().contains(QStringLiteral("/dev/script3")));
        QVERIFY(h.w->errorText().contains(QStringLiteral("in use by another program")));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(enabledButtons(*h.w), (QStringList{"cmdInit", "cmdHelp", "cmdExit"}));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter SCPI and Modbus commands"));
        QCOMPARE(h.w->frmDevCmd->title(), QStringLiteral("Device Commands and Queries"));
    }

    void closedPortIsReportedNotWritten()
    {
        WindowHarness h;
        h.w->combCmd->setEditText("*idn?");
        QTest::keyClick(h.w->combCmd->lineEdit(), Qt::Key_Return);
        QVERIFY(h.w->errorShown());
        QVERIFY(h.w->errorText().contains(QStringLiteral("not open")));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.w->CmdStr, QByteArray());
    }

    void lostPortIsReportedOnceAndNothingWritten()
    {
        WindowHarness h;
        h.init(1);
        h.port->loseLine();
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->errorText(), QStringLiteral("COM 1 (/dev/script1) was lost: the far end hung up; the port is closed."));
        h.w->combCmd->setEditText("*idn?");
        h.w->cmdSend_Click();
        QCOMPARE(h.port->writes.size(), 0);
        QVERIFY(h.w->errorText().contains(QStringLiteral("closed")));

        // Lost while a query waits: the wait ends at once and says why, once.
        WindowHarness h2;
        h2.init(1);
        h2.port->responder = [](ScriptPort &p, const QByteArray &) {
            QTimer::singleShot(0, &p, [&p] { p.loseLine(); });
        };
        h2.w->combCmd->setEditText("*idn?");
        h2.w->cmdSend_Click();
        QCOMPARE(h2.seams.beeps, 1);
        QVERIFY(h2.w->errorText().contains(QStringLiteral("lost")));
        QVERIFY(h2.port->inputCalls < 1000);
        QCOMPARE(h2.transcript(), QByteArray("Sent *idn?"));
    }

    // Typed and sent as a person does it: keys to the shown window, Enter in
    // either box runs its action once, with the button enabled or not, and
    // the text goes out exactly as typed (no completion from the list).
    void typedAndEnter_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("queryBox");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::newRow("query") << true << false << "*idn?" << QByteArray("Vek\n>") << QByteArray("*idn?\n")
                               << QByteArray("Sent *idn?\r\nVek\r\nPrompt received") << QString();
        QTest::newRow("s not completed") << true << false << "s" << QByteArray(">") << QByteArray("s\n")
                                         << QByteArray("Sent s\r\nPrompt received") << QString();
        QTest::newRow("*id not completed") << true << false << "*id" << QByteArray(">") << QByteArray("*id\n")
                                           << QByteArray("Sent *id\r\nPrompt received") << QString();
        QTest::newRow("@ not completed") << true << false << "@" << QByteArray(">") << QByteArray("@\n")
                                         << QByteArray("Sent @\r\nPrompt received") << QString();
        QTest::newRow("closed port") << false << false << "*idn?" << QByteArray() << QByteArray() << QByteArray()
                                     << "The COM port is not open: use Initialize COM Port first.";
        QTest::newRow("query box, SCPI") << true << true << "C1" << QByteArray() << QByteArray() << QByteArray()
                                         << "Unknown mode error, cmdMode$ = SCPI";
        QTest::newRow("query box, closed") << false << true << "C1" << QByteArray() << QByteArray() << QByteArray()
                                           << "Unknown mode error, cmdMode$ = SCPI";
    }

    void typedAndEnter()
    {
        QFETCH(bool, open);
        QFETCH(bool, queryBox);
        QFETCH(QString, typed);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        WindowHarness h;
        if (open)
            h.init(1);
        QVERIFY(User::showActive(h.w.get()));
        QComboBox *box = queryBox ? h.w->combQuery : h.w->combCmd;
        QCOMPARE((queryBox ? h.w->cmdQuery : h.w->cmdSend)->isEnabled(), open && !queryBox);
        if (!reply.isEmpty())
            h.port->replyToNext(1, reply);
        User::typeInto(box, typed);
        QCOMPARE(box->currentText(), typed); // other keys only edit the text
        QCOMPARE(h.port->writes.size(), 0);
        User::key(Qt::Key_Return);
        QCOMPARE(h.takeWritten(), written); // once per key
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->errorShown(), !error.isEmpty());
        QCOMPARE(h.w->errorText(), error);
        QCOMPARE(h.seams.beeps, error.isEmpty() ? 0 : 1);
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
    }

    // An empty query box is refilled with the last text sent, and that goes out.
    void emptyQueryBoxShowsTheRepeatedText()
    {
        WindowHarness h;
        h.init(1);
        h.w->cmdXonXoff_Click();
        h.w->CmdStr = "SP1 7";
        h.port->replyToNext(1, "7\r");
        h.w->cmdQuery_Click();
        QCOMPARE(h.takeWritten(), QByteArray("? SP1 7\r"));
        QCOMPARE(h.w->combQuery->currentText(), QStringLiteral("SP1 7"));
    }

    // A second exchange asked for during a wait is refused; the first goes on.
    // Also when the wait is blocked in the event loop with the line idle: the
    // clicks are handled within the block.
    void clickDuringWaitIsRefused_data()
    {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("between polls") << false;
        QTest::newRow("during an idle block") << true;
    }
    void clickDuringWaitIsRefused()
    {
        QFETCH(bool, blocked);
        WindowHarness h;
        h.init();
        QVERIFY(User::showActive(h.w.get()));
        h.port->mayBlock = blocked;
        h.w->pollPacingMicros = blocked ? 1 : 0; // a full wait blocks 30 ms at most
        int refusedSeen = 0;
        QString busyShown;
        h.port->responder = [&](ScriptPort &p, const QByteArray &data) {
            if (data != "*idn?\n")
                return;
            QTimer::singleShot(blocked ? 5 : 0, &p, [&] {
                User::typeInto(h.w->combCmd, "*cls");
                User::key(Qt::Key_Return); // Enter
                User::key(Qt::Key_Enter);  // keypad Enter
                User::click(h.w->cmdSend); // button
                User::click(h.w->combQuery);
                User::key(Qt::Key_Return); // Enter in the query box
                h.w->cmdQuery_Click();
                h.w->cmdSCPI_Click();
                h.w->cmdInit_Click();
                h.w->cmdXonXoff_Click(); // would change the language mid-operation
                refusedSeen = int(h.w->refusedRequests());
                busyShown = h.w->statusBar()->currentMessage();
                h.port->inject("ID\n>");
            });
        };
        h.w->combCmd->setEditText("*idn?");
        h.w->cmdSend_Click();
        QCOMPARE(refusedSeen, 8);
        QCOMPARE(h.seams.beeps, 8); // one per refusal
        if (blocked) // the wait spent its time blocked, not reading
            QVERIFY2(h.port->inputCalls < 100, qPrintable(QString::number(h.port->inputCalls)));
        // Said where it does not outlive the wait: the error box stays free
        // for the exchange's own errors.
        QVERIFY(busyShown.startsWith(QStringLiteral("Busy: ")));
        QCOMPARE(h.w->statusBar()->currentMessage(), QString());
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.port->writes, (QList<QByteArray>{"*idn?\n"}));
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nID\r\nPrompt received"));
        QCOMPARE(h.w->Rdg, QByteArray("ID"));
        QCOMPARE(h.seams.dialogRuns, 1); // the refused cmdInit showed no dialog
        QVERIFY(!h.w->Busy());
        QVERIFY(h.port->PortOpen());
        // The line is free again afterwards.
        h.port->replyToNext(1, ">");
        h.w->combCmd->setEditText("*cls");
        h.w->cmdSend_Click();
        QCOMPARE(h.port->writes.size(), 2);
    }

    // The loop controls: a click on an interval option sets the timer; Start
    // swaps its loop's buttons unless its entry is empty, Stop swaps them
    // back (also during a tick); the count, its label and the statistics
    // summary show as the session says.
    void loopControls()
    {
        WindowHarness h;
        h.init(1);
        frmMain &w = *h.w;
        QVERIFY(User::showActive(&w));
        const int ms[] = {100, 200, 300, 500, 1000};
        for (int i : {4, 0, 1, 2, 3}) {
            User::click(w.optTime[i]);
            QCOMPARE(w.Timer1->interval(), ms[i]);
            QVERIFY(w.optTime[i]->isChecked());
        }
        w.Timer1->stop(); // ticks are driven by the test
        const auto loopButtons = [&] { return enabledButtons(w).filter(QStringLiteral("tst")); };
        const QStringList stopped{"cmdQtst", "cmdCmdtst"};
        User::click(w.cmdCmdtst); // both entries empty: refused
        User::click(w.cmdQtst);
        QCOMPARE(loopButtons(), stopped);
        QCOMPARE(h.seams.beeps, 2);
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        w.combQuery->setEditText(QStringLiteral("C1"));
        User::click(w.cmdCmdtst);
        QCOMPARE(loopButtons(), (QStringList{"cmdQtst", "cmdCmdtstoff"}));
        User::click(w.cmdQtst);
        QCOMPARE(loopButtons(), (QStringList{"cmdQtstOff", "cmdCmdtstoff"}));
        QVERIFY(w.txtCount->isHidden() && w.lblCount->isHidden() && w.lblLoopStats->isHidden());

        h.port->replyToNext(1, "ID\n>");
        w.Timer1_Timer();
        QVERIFY(!w.txtCount->isHidden());
        QVERIFY(!w.lblCount->isHidden());
        QCOMPARE(w.txtCount->text(), QStringLiteral("1"));
        QVERIFY(!w.lblLoopStats->isHidden());
        User::click(w.cmdCmdtstoff); // the query loop runs on, the count stays
        QCOMPARE(loopButtons(), (QStringList{"cmdQtstOff", "cmdCmdtst"}));
        QVERIFY(!w.txtCount->isHidden());
        User::click(w.cmdQtstOff);
        QCOMPARE(loopButtons(), stopped);
        QVERIFY(w.txtCount->isHidden());
        QVERIFY(w.lblCount->isHidden());

        // Stopped during its tick: the tick still counts; the next one hides
        // the count and leaves its label.
        User::click(w.cmdCmdtst);
        h.port->responder = [&](ScriptPort &p, const QByteArray &) {
            w.cmdCmdtstoff_Click();
            p.inject("ID\n>");
        };
        w.Timer1_Timer();
        QCOMPARE(loopButtons(), stopped);
        QCOMPARE(w.txtCount->text(), QStringLiteral("1"));
        QVERIFY(!w.txtCount->isHidden());
        w.Timer1_Timer();
        QVERIFY(w.txtCount->isHidden());
        QVERIFY(!w.lblCount->isHidden());
    }

    // Without stand-in seams the window's beep reaches the desktop's.
    void realBeepReachesTheDesktop()
    {
        QVERIFY(UiSeams::systemBeep == &QApplication::beep);
        static int sounded = 0;
        sounded = 0;
        UiSeams::systemBeep = [] { ++sounded; };
        {
            frmMain w(new ScriptPort, nullptr);
            w.combCmd->setEditText("*idn?");
            w.cmdSend_Click(); // the port is not open: an error, with a beep
            QVERIFY(w.errorShown());
        }
        UiSeams::systemBeep = &QApplication::beep;
        QCOMPARE(sounded, 1);
    }

    void helpOpensFileFromCurrentDirectory()
    {
        WindowHarness h;
        QTemporaryDir dir;
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        h.w->cmdHelp_Click(); // missing: the built-in guide, at once; nothing is asked
        QCOMPARE(h.seams.helpShown.size(), 0);
        QVERIFY(!h.w->errorShown());
        HelpWindow *guide = h.w->helpWindow();
        QVERIFY(guide && guide->isVisible());
        for (const char *section : {"Open the line", "Test loops", "The simulated converter", "Line monitor",
                                    "Session log", "Loop statistics"})
            QVERIFY2(guide->txtHelp->toPlainText().contains(QLatin1String(section)), section);
        QCOMPARE(guide->txtHelp->accessibleName(), QStringLiteral("Help")); // what a screen reader says
        // A link of the guide to one of its sections scrolls there.
        guide->txtHelp->verticalScrollBar()->setValue(0);
        emit guide->txtHelp->anchorClicked(QUrl(QStringLiteral("#5-test-loops")));
        QVERIFY(guide->txtHelp->verticalScrollBar()->value() > 0);
        guide->close();
        QFile f(dir.filePath("OrnaSer_Kybd_help.chm"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        h.w->cmdHelp_Click();
        h.w->cmdHelp_Click();
        QCOMPARE(h.seams.helpShown.size(), 2);
        QCOMPARE(h.seams.helpShown.first(), QDir(dir.path()).absoluteFilePath("OrnaSer_Kybd_help.chm"));
        QVERIFY(!guide->isVisible());
        // The opener fails after the window went on: the guide shows, with
        // the reason at its top.
        h.seams.helpFailed(QStringLiteral("Cannot show it: the opener failed."));
        QVERIFY(guide->isVisible());
        QVERIFY(guide->lblNotice->text().startsWith(QStringLiteral("Cannot show it: the opener failed.")));
        guide->close();
        // No launcher to open it: the status bar says so, and the guide shows.
        h.seams.helpProblem = QStringLiteral("Cannot show it: no program to open it is installed");
        h.w->cmdHelp_Click();
        QCOMPARE(h.w->statusBar()->currentMessage(),
                 QStringLiteral("OrnaSer_Kybd_help.chm could not be shown: showing the built-in guide"));
        QVERIFY(guide->isVisible());
        QVERIFY(guide->lblNotice->text().startsWith(h.seams.helpProblem));
        h.seams.helpProblem.clear();
        // Help > User Guide: the guide, with no notice.
        h.w->actUserGuide->trigger();
        QVERIFY(guide->isVisible() && guide->lblNotice->isHidden());

        // Started elsewhere (from the desktop menu, in the home directory),
        // the program finds the file in its data folder.
        QVERIFY(QFile::remove(dir.filePath("OrnaSer_Kybd_help.chm")));
        QTemporaryDir data;
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        QVERIFY(QDir(data.path()).mkpath("ornasertest"));
        QFile installed(data.filePath("ornasertest/OrnaSer_Kybd_help.chm"));
        QVERIFY(installed.open(QIODevice::WriteOnly));
        installed.close();
        h.w->cmdHelp_Click();
        QDir::setCurrent(old);
        if (oldData.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);
        QCOMPARE(h.seams.helpShown.size(), 4);
        QCOMPARE(h.seams.helpShown.last(), installed.fileName());
    }

    // F1 with a help file the desktop cannot show ends in the built-in
    // guide, however late the desktop says so: the real seam, with
    // stand-ins for the desktop's xdg-mime and xdg-open on the PATH.
    void helpFallsBackWhenTheDesktopCannotShowIt_data()
    {
        QTest::addColumn<QByteArray>("association"); // what xdg-mime answers; "-": there is no xdg-mime
        QTest::addColumn<int>("openerStatus");       // xdg-open's exit status; -1: there is no xdg-open
        QTest::addColumn<QString>("reason");         // in the guide's notice; empty: the file is shown
        QTest::newRow("no xdg-open") << QByteArray("xchm.desktop") << -1 << "xdg-open is missing";
        QTest::newRow("no program for CHM files")
            << QByteArray() << 0 << "no program on this desktop opens files of its type (application/vnd.ms-htmlhelp)";
        QTest::newRow("the opener fails") << QByteArray("xchm.desktop") << 4
                                          << "the program xdg-open started to open it failed (status 4)";
        QTest::newRow("no xdg-mime, the opener fails")
            << QByteArray("-") << 3 << "xdg-open found no program to open it (status 3)";
        QTest::newRow("shown") << QByteArray("xchm.desktop") << 0 << QString();
    }
    void helpFallsBackWhenTheDesktopCannotShowIt()
    {
        QFETCH(QByteArray, association);
        QFETCH(int, openerStatus);
        QFETCH(QString, reason);
        QTemporaryDir tools, cwd;
        const auto script = [&](const char *name, const QByteArray &body) {
            QFile f(tools.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\necho \"$@\" > \"" + QFile::encodeName(tools.path()) + "/" + name + ".args\"\n" + body);
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        };
        if (association != "-")
            script("xdg-mime", association.isEmpty() ? QByteArray() : "echo " + association + "\n");
        if (openerStatus >= 0)
            script("xdg-open", "exit " + QByteArray::number(openerStatus) + "\n");
        QFile empty(cwd.filePath(QStringLiteral("OrnaSer_Kybd_help.chm")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const QByteArray oldPath = qgetenv("PATH");
        const QString oldCwd = QDir::currentPath();
        qputenv("PATH", QFile::encodeName(tools.path()));
        QDir::setCurrent(cwd.path());
        auto restore = qScopeGuard([&] {
            qputenv("PATH", oldPath);
            QDir::setCurrent(oldCwd);
        });

        frmMain w(new ScriptPort, nullptr);
        QVERIFY(User::showActive(&w));
        User::key(Qt::Key_F1);
        // The desktop's tools have ended and been heard.
        QVERIFY(QTest::qWaitFor([] { return qApp->findChildren<QProcess *>().isEmpty(); }));
        QFile opened(tools.filePath(QStringLiteral("xdg-open.args")));
        if (association.isEmpty() || openerStatus < 0) {
            QVERIFY(!opened.exists()); // the opener was not asked
        } else {
            QVERIFY(opened.open(QIODevice::ReadOnly));
            QCOMPARE(opened.readAll(), QFile::encodeName(empty.fileName()) + '\n');
        }
        HelpWindow *guide = w.helpWindow();
        QCOMPARE(guide && guide->isVisible(), !reason.isEmpty());
        if (reason.isEmpty())
            return;
        QVERIFY2(guide->lblNotice->text().contains(reason), qPrintable(guide->lblNotice->text()));
        QVERIFY(guide->lblNotice->text().contains(empty.fileName()) && !guide->lblNotice->isHidden());
        // The association was asked for the help file's type.
        if (QFile asked(tools.filePath(QStringLiteral("xdg-mime.args"))); association != "-" && openerStatus >= 0) {
            QVERIFY(asked.open(QIODevice::ReadOnly));
            QVERIFY2(asked.readAll().startsWith("query default "), "xdg-mime was not asked 'query default TYPE'");
        }
        // The status bar's notice is short enough to be read whole.
        const QString notice = w.statusBar()->currentMessage();
        QVERIFY(!notice.isEmpty());
        QVERIFY2(w.statusBar()->fontMetrics().horizontalAdvance(notice) <= w.statusBar()->width() - 18,
                 qPrintable(notice));
    }

    // The session log holds what the monitor and the transcript held: saved
    // at once, or continuously from the opening of the line, also when the
    // line drops in the middle of an exchange. A place that cannot be
    // written is said at once, never a silent loss.
    void sessionLog_data()
    {
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("target"); // empty: a temporary folder; else a place that cannot be written
        QTest::newRow("saved") << false << false << QString();
        QTest::newRow("saved after a drop") << false << true << QString();
        QTest::newRow("continuous") << true << false << QString();
        QTest::newRow("continuous, line dropped mid-exchange") << true << true << QString();
        QTest::newRow("unwritable file") << false << false << QStringLiteral("/nonexistent-ornasertest/x.log");
        QTest::newRow("unwritable folder") << true << false << QStringLiteral("/nonexistent-ornasertest");
        // Initialize COM Port closes the line: its file ends there.
        QTest::newRow("continuous, line reopened") << true << false << QStringLiteral("reopen");
    }
    void sessionLog()
    {
        QFETCH(bool, continuous);
        QFETCH(bool, drop);
        QFETCH(QString, target);
        const bool reopen = target == QLatin1String("reopen");
        if (reopen)
            target.clear();
        WindowHarness h;
        QTemporaryDir dir;
        if (continuous) {
            h.seams.folderAnswers << (target.isEmpty() ? dir.path() : target);
            h.w->actLogContinuously->trigger();
        }
        h.init(1);
        h.port->replyToNext(1, "Vek\n");
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdSend_Click();
        if (drop) // the line goes while the reply is awaited
            h.port->responder = [](ScriptPort &p, const QByteArray &) { p.loseOnRead = true; };
        else
            h.port->replyToNext(1, ">");
        h.w->combCmd->setEditText(QStringLiteral("*cls"));
        h.w->cmdSend_Click();

        QString path = target;
        if (!continuous) {
            if (path.isEmpty())
                path = dir.filePath(QStringLiteral("saved.log"));
            h.seams.saveAnswers << path;
            h.w->actSaveLog->trigger();
        }
        if (!target.isEmpty()) {
            QCOMPARE(h.seams.warnings.size(), 1);
            QVERIFY2(h.seams.warnings.first().contains(target), qPrintable(h.seams.warnings.first()));
            QVERIFY(!h.w->actLogContinuously->isChecked());
            QVERIFY(!QFileInfo::exists(target));
            return;
        }
        QCOMPARE(h.seams.warnings, QStringList());
        if (reopen) {
            const auto records = [&](const QString &name) {
                QFile f(dir.filePath(name));
                return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                                         .split(u'\n', Qt::SkipEmptyParts)
                                                         .filter(QRegularExpression(QStringLiteral("^[^#]")))
                                                   : QStringList();
            };
            const auto files = [&] {
                return QDir(dir.path()).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
            };
            // While the port dialog is up, the closed line's file is finished.
            QString lastWhileChoosing;
            h.seams.dialog = [&](frmPorts &d) {
                const QStringList held = records(files().value(0));
                lastWhileChoosing = held.isEmpty() ? QString() : held.last();
                d.cmdCOM_Click(1);
                d.cmdExit_Click();
            };
            h.w->cmdInit_Click();
            QVERIFY2(lastWhileChoosing.endsWith(QStringLiteral("\tCLOSE\t-\t")), qPrintable(lastWhileChoosing));
            QCOMPARE(files().size(), 2);
            for (const QString &name : files()) {
                const QStringList held = records(name);
                QCOMPARE(held.filter(QStringLiteral("\tOPEN\t")).size(), 1);
                QVERIFY2(held.first().contains(QStringLiteral("\tOPEN\t")), qPrintable(held.first()));
            }
            QCOMPARE(records(files().first()).last(), lastWhileChoosing);
            return;
        }
        if (continuous) {
            const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.log")});
            QCOMPARE(files.size(), 1);
            path = dir.filePath(files.first());
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        // One record a line, each ended by its line feed, no empty lines.
        QVERIFY(text.endsWith(u'\n') && !text.contains(QLatin1String("\n\n")));
        QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
        lines.removeIf([](const QString &l) { return l.startsWith(u'#'); });
        const LineMonitor &m = h.w->lineMonitor();
        QStringList held;
        for (quint64 s = m.firstSeq(); s <= m.lastSeq(); ++s)
            held << LineMonitor::logLine(*m.find(s));
        QCOMPARE(lines, held);
        // Frames, transcript lines and the outcome, each once.
        for (const QString &end : {QStringLiteral("\tTX\t2A 63 6C 73 0A\t*cls<LF>"), QStringLiteral("\tSHOW\t-\tSent *cls"),
                                   QStringLiteral("\tLINE\t-\tVek")})
            QCOMPARE(lines.filter(end).size(), 1);
        const QString last = drop ? QStringLiteral("\tRESULT\t-\tsend line-lost") : QStringLiteral("\tLINE\t-\tPrompt received");
        QCOMPARE(lines.filter(last).size(), 1);
        if (drop) {
            QCOMPARE(lines.filter(QStringLiteral("\tLOST\t-\tthe far end hung up")).size(), 1);
            QCOMPARE(lines.filter(QStringLiteral("\tERROR\t-\tCOM 1 (/dev/script1) was lost: the far end hung up")).size(), 1);
        }
    }

    // The new windows and actions as a person reaches them: by their keys,
    // which typing in the entry boxes never needs.
    void recordByKeyboard()
    {
        WindowHarness h;
        h.init(1);
        frmMain *w = h.w.get();
        QVERIFY(User::showActive(w));
        QTemporaryDir dir;
        // An exchange that fails: nobody answers.
        User::typeInto(w->combCmd, QStringLiteral("*idn?"));
        User::key(Qt::Key_Return);
        QCOMPARE(w->errorText(), QStringLiteral("Receive timeout error - no response from UUT"));
        // In the entry box Ctrl+C copies the entry.
        User::key(Qt::Key_A, Qt::ControlModifier);
        User::key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("*idn?"));

        // Ctrl+L: the monitor; F3 finds the failure, Ctrl+C copies it.
        User::key(Qt::Key_L, Qt::ControlModifier);
        QVERIFY(w->dockMonitor->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(w->dockMonitor));
        QVERIFY(QTest::qWaitFor([&] { return w->monitorView->rowCount() == int(w->lineMonitor().size()); }));
        User::key(Qt::Key_F3);
        User::key(Qt::Key_C, Qt::ControlModifier);
        QVERIFY2(QApplication::clipboard()->text().endsWith(
                     QStringLiteral("\tERROR\t-\tReceive timeout error - no response from UUT\n")),
                 qPrintable(QApplication::clipboard()->text()));
        // One stop per failed exchange: its outcome after the error is none.
        User::key(Qt::Key_F3);
        User::key(Qt::Key_C, Qt::ControlModifier);
        QVERIFY2(QApplication::clipboard()->text().endsWith(
                     QStringLiteral("\tERROR\t-\tReceive timeout error - no response from UUT\n")),
                 qPrintable(QApplication::clipboard()->text()));
        // Rows picked from the bottom up are copied in the line's order.
        QTableView *table = w->monitorView->tblMonitor;
        const auto rowAt = [&](int row) { return table->visualRect(table->model()->index(row, 0)).center(); };
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rowAt(2));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, rowAt(0));
        User::key(Qt::Key_C, Qt::ControlModifier);
        const QStringList copied = QApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(copied, QStringList({LineMonitor::logLine(*w->lineMonitor().find(w->lineMonitor().firstSeq())),
                                      LineMonitor::logLine(*w->lineMonitor().find(w->lineMonitor().firstSeq() + 2))}));
        // Ctrl+S there as well: the log of what the monitor holds.
        h.seams.saveAnswers << dir.filePath(QStringLiteral("by-key.log"));
        User::key(Qt::Key_S, Qt::ControlModifier);
        QFile saved(dir.filePath(QStringLiteral("by-key.log")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().contains("\tTX\t2A 69 64 6E 3F 0A\t*idn?<LF>\n"));
        // Ctrl+P holds the table while the line goes on; again, it catches up at once.
        User::key(Qt::Key_P, Qt::ControlModifier);
        const int shown = w->monitorView->rowCount();
        h.port->replyToNext(1, ">");
        w->combCmd->setEditText(QStringLiteral("*cls"));
        w->cmdSend_Click();
        QVERIFY(int(w->lineMonitor().size()) > shown);
        QTest::qWait(200);
        QCOMPARE(w->monitorView->rowCount(), shown);
        User::key(Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(w->monitorView->rowCount(), int(w->lineMonitor().size()));
        // Ctrl+L again closes it.
        User::key(Qt::Key_L, Qt::ControlModifier);
        QVERIFY(!w->dockMonitor->isVisible());

        // A query loop tick, then Ctrl+T: the statistics; Ctrl+C, Ctrl+S, Escape.
        QVERIFY(User::showActive(w));
        w->combQuery->setEditText(QStringLiteral("C1"));
        w->cmdQtst_Click();
        w->Timer1_Timer();
        QCOMPARE(w->lblLoopStats->text().contains(QStringLiteral("1 not-sent")), true);
        // However many kinds of failure the summary names, the window keeps its size.
        const QSize size = w->size();
        w->lblLoopStats->setText(w->lblLoopStats->text().repeated(12));
        QCoreApplication::processEvents();
        QCOMPARE(w->size(), size);
        User::key(Qt::Key_T, Qt::ControlModifier);
        LoopStatsWindow *stats = w->loopStatsWindow();
        QVERIFY(stats && QTest::qWaitForWindowActive(stats));
        User::key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), statsText(w->commandLoopStats(), w->queryLoopStats()));
        h.seams.saveAnswers << dir.filePath(QStringLiteral("stats.csv"));
        User::key(Qt::Key_S, Qt::ControlModifier);
        QFile csv(dir.filePath(QStringLiteral("stats.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray csvText = csv.readAll();
        QVERIFY(csvText.contains("\nnot_sent,0,1\n") && csvText.contains("\nstarted,"));
        User::key(Qt::Key_Escape);
        QVERIFY(!stats->isVisible());
        // The keys go back to the main window without a click (no window
        // manager hands them over here, as on a bare X server).
        QVERIFY(QTest::qWaitForWindowActive(w));

        // Ctrl+Shift+L asks for the folder of the continuous log; F1 the help.
        h.seams.folderAnswers << dir.path();
        User::key(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w->actLogContinuously->isChecked());
        QVERIFY(w->sessionLog().active());
        QVERIFY(!w->lblLogFile->isHidden());
        QTemporaryDir cwd; // no help file here
        const QString old = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        User::key(Qt::Key_F1);
        QDir::setCurrent(old);
        QVERIFY(w->helpWindow() && w->helpWindow()->isVisible());
        QCOMPARE(h.seams.helpShown, QStringList());
    }

    // A session done by hand, recorded as a plan (Ctrl+Shift+R) and saved,
    // runs back through the window (Ctrl+R): every step passes, and the
    // transcript shows the same lines (the readings' numbers may differ).
    void recordedPlanRunsBack()
    {
        SimHarness h;
        frmMain *w = h.w.get();
        QVERIFY(User::showActive(w));
        QTemporaryDir dir;
        const auto transcriptFrom = [w](quint64 from) {
            QStringList lines;
            const LineMonitor &m = w->lineMonitor();
            for (quint64 seq = from; seq <= m.lastSeq(); ++seq)
                if (const MonitorRecord *r = m.find(seq); r && (r->kind == MonitorRecord::Show || r->kind == MonitorRecord::Line))
                    lines << QString::fromLatin1(r->bytes).replace(QRegularExpression(QStringLiteral("[0-9]+")), QStringLiteral("#"));
            return lines;
        };
        const auto enter = [](QWidget *box, const QString &text) {
            User::typeInto(box, text);
            User::key(Qt::Key_Return);
        };
        User::key(Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w->planRecorder().recording() && w->actRecordPlan->isChecked());
        const quint64 byHandFrom = w->lineMonitor().lastSeq() + 1;
        QVERIFY(h.open());
        enter(w->combCmd, QStringLiteral("*idn?"));
        enter(w->combCmd, QStringLiteral("SYST:LANG X3.28"));
        User::typeInto(w->txtAddr, QStringLiteral("1"));
        User::click(w->cmdSet);
        enter(w->combCmd, QStringLiteral("SP1 100"));
        User::click(w->ckByteCnt);
        enter(w->combQuery, QStringLiteral("C1"));
        User::click(w->ckNAK);
        enter(w->combQuery, QStringLiteral("C1"));
        User::click(w->cmdDisconnect);
        enter(w->combCmd, QStringLiteral("@@@"));
        enter(w->combCmd, QStringLiteral("*esr?"));
        QVERIFY(w->planRecorder().steps() >= 12);
        const QStringList byHand = transcriptFrom(byHandFrom);
        // Left without a file, the recording goes on.
        User::key(Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w->planRecorder().recording() && w->actRecordPlan->isChecked());
        h.seams.saveAnswers << dir.filePath(QStringLiteral("session.plan"));
        User::key(Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!w->planRecorder().recording() && !w->actRecordPlan->isChecked());
        QFile saved(dir.filePath(QStringLiteral("session.plan")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray planText = saved.readAll();
        QVERIFY2(planText.contains("\nopen simulator 9600 8N1\n") && planText.contains("\nnak on\n") &&
                     planText.contains("expect /^Received STX "),
                 planText.constData());

        h.seams.openAnswers << saved.fileName();
        const quint64 replayFrom = w->lineMonitor().lastSeq() + 1;
        User::key(Qt::Key_R, Qt::ControlModifier);
        QVERIFY(w->dockPlan->isVisible());
        // While it runs it can be stopped, and no second run starts.
        QVERIFY(w->planRunner() && w->planPanel->cmdStopPlan->isEnabled() && !w->actRunPlan->isEnabled());
        QVERIFY(QTest::qWaitFor([w] { return !w->planRunner(); }, 20000));
        // One row a step, each passed.
        const int rows = w->planPanel->tblPlanSteps->topLevelItemCount();
        QList<PlanError> errors;
        QCOMPARE(rows, int(flattenPlan(readPlan(saved.fileName(), &errors)).size()));
        for (int i = 0; i < rows; ++i)
            QCOMPARE(w->planPanel->tblPlanSteps->topLevelItem(i)->text(0), QStringLiteral("passed"));
        QVERIFY2(w->planPanel->lblPlanSummary->text().startsWith(QStringLiteral("Passed: ")),
                 qPrintable(w->planPanel->lblPlanSummary->text() + QLatin1Char('\n') + QString::fromUtf8(planText)));
        QCOMPARE(transcriptFrom(replayFrom), byHand);
    }

    void exitBeforeInitSendsNothing()
    {
        WindowHarness h;
        h.w->cmdExit_Click();
        QCOMPARE(h.seams.programEnds, 1);
        QCOMPARE(h.port->writes.size(), 0);
    }

    // Exit, and Quit (Ctrl+Q) as the window system delivers it: the same end.
    void exitAfterInitSendsDisconnectThenCloses_data()
    {
        QTest::addColumn<bool>("byQuitKey");
        QTest::newRow("Exit") << false;
        QTest::newRow("Ctrl+Q") << true;
    }
    void exitAfterInitSendsDisconnectThenCloses()
    {
        QFETCH(bool, byQuitKey);
        WindowHarness h;
        h.init(1);
        h.w->cmdXonXoff_Click(); // any mode
        if (byQuitKey)
            QVERIFY(User::showActive(h.w.get()));
        QElapsedTimer t;
        t.start();
        if (byQuitKey)
            User::key(Qt::Key_Q, Qt::ControlModifier);
        else
            h.w->cmdExit_Click();
        QVERIFY(t.elapsed() >= 300);
        QCOMPARE(h.takeWritten(), QByteArray("\x10\x05"));
        QVERIFY(!h.port->PortOpen());
        QCOMPARE(h.seams.programEnds, 1);
    }

    void exitAfterFailedOpenWritesNothing()
    {
        WindowHarness h;
        h.port->failOpen = true;
        h.init(1);
        h.w->cmdExit_Click();
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.seams.programEnds, 1);
    }

    void closeControlTakesTheExitPath()
    {
        WindowHarness h;
        h.init(1);
        h.w->show();
        h.w->close();
        QCOMPARE(h.takeWritten(), QByteArray("\x10\x05"));
        QCOMPARE(h.seams.programEnds, 1);
        QVERIFY(h.w->isHidden());
    }

    // Exit pressed while an exchange waits: the wait ends, then the exit runs.
    void exitDuringWaitEndsCleanly()
    {
        WindowHarness h;
        h.init(1);
        h.port->responder = [&](ScriptPort &p, const QByteArray &data) {
            if (data == "*idn?\n")
                QTimer::singleShot(0, &p, [&h] { h.w->cmdExit_Click(); });
        };
        h.w->combCmd->setEditText("*idn?");
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("*idn?\n\x10\x05"));
        QCOMPARE(h.seams.programEnds, 1);
        QVERIFY(!h.port->PortOpen());
        QVERIFY(h.port->inputCalls < 1000); // did not wait out the poll limit
    }

    // Every control a person reaches has a name a screen reader can say, and
    // the tab order walks the frames in the order they stand.
    void keyboardAndAccessibility()
    {
        WindowHarness h;
        for (QWidget *wdg : h.w->findChildren<QWidget *>()) {
            if (qobject_cast<QAbstractButton *>(wdg) || qobject_cast<QLineEdit *>(wdg) ||
                qobject_cast<QComboBox *>(wdg) || wdg == h.w->txtResults) {
                if (qobject_cast<QLineEdit *>(wdg) && qobject_cast<QComboBox *>(wdg->parentWidget()))
                    continue; // the combo box's own editor; the box carries the name
                const auto *b = qobject_cast<QAbstractButton *>(wdg);
                const QString name = wdg->accessibleName().isEmpty() && b ? b->text() : wdg->accessibleName();
                QVERIFY2(!name.trimmed().isEmpty(), qPrintable(wdg->objectName()));
            }
        }
        QCOMPARE(h.w->cmdSet->accessibleName(), QStringLiteral(" Set Address and          Open Link"));
        // Every menu command has a name a test tool can find it by.
        for (const QMenu *menu : h.w->menuBar()->findChildren<QMenu *>()) {
            for (const QAction *a : menu->actions()) {
                if (!a->isSeparator() && !a->menu())
                    QVERIFY2(!a->objectName().isEmpty(), qPrintable(a->text()));
            }
        }

        QStringList chain;
        QWidget *wdg = h.w->cmdInit;
        do {
            if ((wdg->focusPolicy() & Qt::TabFocus) && !wdg->objectName().isEmpty())
                chain << wdg->objectName();
            wdg = wdg->nextInFocusChain();
        } while (wdg != h.w->cmdInit && chain.size() < 200);
        const QStringList expected{"cmdInit", "cmdHelp", "cmdExit", "txtAddr", "cmdSet", "cmdSCPI",
                                   "cmdDisconnect", "cmdXonXoff", "cmdLdCmdTable", "cmdRdCmdTable", "cmdCmdtst",
                                   "cmdCmdtstoff", "cmdQtst", "cmdQtstOff"};
        QCOMPARE(chain.mid(0, expected.size()), expected);
        QVERIFY(chain.indexOf("combCmd") < chain.indexOf("cmdSend"));
        QVERIFY(chain.indexOf("cmdSend") < chain.indexOf("combQuery"));
        QVERIFY(chain.indexOf("combQuery") < chain.indexOf("txtResults"));
    }

    // The transcript is read-only but selectable and copyable; control
    // characters stay visible and CR LF is a line break.
    void transcriptShowsEveryByte()
    {
        WindowHarness h;
        h.w->resultsReplace(QByteArray("Received \x04x", 11));
        h.w->resultsAppend("100\r\xb0\x85");
        QCOMPARE(h.w->txtResults->toPlainText(), QString::fromUtf8("Received \u2404x\n100\u240d\u00b0\u203985\u203a"));
        QVERIFY(h.w->txtResults->isReadOnly());
        QVERIFY(h.w->txtResults->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        h.w->txtResults->selectAll();
        QVERIFY(h.w->txtResults->textCursor().hasSelection());
        // The text area paints its own background (it is opaque): a shown
        // transcript is the base colour where no text stands, not black.
        h.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.w.get()));
        QWidget *area = h.w->txtResults->viewport();
        const QImage shot = area->grab().toImage();
        QCOMPARE(shot.pixelColor(area->width() - 3, area->height() - 3), area->palette().color(QPalette::Base));
        // Writing the same bytes again changes nothing (no flicker, no scroll).
        const QByteArray before = h.transcript();
        h.w->resultsReplace(before);
        QCOMPARE(h.transcript(), before);
        // A line is appended after CR LF even to an empty transcript.
        h.w->resultsReplace({});
        h.w->resultsAppend("Sent C1");
        QCOMPARE(h.transcript(), QByteArray("\r\nSent C1"));
        // Changes are painted together within a display frame, not in the
        // event processing right after them (where a wait reads its reply).
        PaintCount paints;
        area->installEventFilter(&paints);
        QTest::qWait(100);
        paints.n = 0;
        QElapsedTimer since;
        since.start();
        h.w->resultsAppend("Received Characters:  6 ");
        h.w->resultsRepaint();
        h.w->resultsAppend("Received  ACK");
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        if (since.elapsed() < 10) // well within the frame (a stalled machine proves nothing)
            QCOMPARE(paints.n, 0);
        QTRY_COMPARE(paints.n, 1);
        // A change with no repaint asked for is painted within a frame too.
        h.w->resultsAppend("Sent C1");
        QTRY_COMPARE(paints.n, 2);
    }

    // The dialog reads the device list afresh every time it opens, so an
    // adapter plugged in meanwhile appears, and keeps user choices.
    void deviceListReadAfreshOnEveryRun()
    {
        WindowHarness h;
        QList<SystemDevice> &devices = h.devices;
        devices = {{"/dev/ttyS0", "built-in"}};
        h.map.reset();
        frmPorts &d = *h.w->portsDialog();
        d.beginChoice();
        QCOMPARE(d.cmbDevice[0]->currentText(), QStringLiteral("/dev/ttyS0  (built-in)"));
        QCOMPARE(d.cmbDevice[1]->currentText(), QString());

        // The user points COM 3 at a pseudo-terminal; then an adapter appears.
        d.cmbDevice[2]->setEditText("/dev/pts/9");
        d.deviceChosen(3);
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
        devices.append(SystemDevice{"/dev/ttyUSB0", "FT232R USB UART", byId});
        const int reads = h.map.systemReads();
        d.beginChoice();
        QCOMPARE(h.map.systemReads(), reads + 1);
        QCOMPARE(d.cmbDevice[1]->currentText(),
                 QStringLiteral("/dev/ttyUSB0  (FT232R USB UART)  by-id: usb-FTDI_FT232R_USB_UART_A10K-if00-port0"));
        QCOMPARE(d.cmbDevice[2]->currentText(), QStringLiteral("/dev/pts/9"));
        QCOMPARE(h.map.resolve(2, nullptr), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(h.map.resolve(3, nullptr), QStringLiteral("/dev/pts/9"));
        // Choosing a listed device beside a button maps it; its stable name
        // is offered too.
        d.cmbDevice[3]->setCurrentIndex(d.cmbDevice[3]->findData("/dev/ttyUSB0"));
        d.deviceChosen(4);
        QCOMPARE(h.map.resolve(4, nullptr), QStringLiteral("/dev/ttyUSB0"));
        d.cmbDevice[4]->setCurrentIndex(d.cmbDevice[4]->findData(byId));
        d.deviceChosen(5);
        QCOMPARE(h.map.resolve(5, nullptr), byId);
        QCOMPARE(d.cmbDevice[4]->currentText(), byId + QStringLiteral("  (FT232R USB UART)  = /dev/ttyUSB0"));
        // An emptied box goes back to the system's default.
        d.cmbDevice[2]->setEditText("");
        d.deviceChosen(3);
        QCOMPARE(h.map.entry(3).kind, ComEntry::None);
    }

    void tdelayWaitsWithoutEvents()
    {
        WindowHarness h;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        QElapsedTimer t;
        t.start();
        h.w->Tdelay(0.3);
        const qint64 ms = t.elapsed();
        QVERIFY(ms >= 300);
        QVERIFY(!ran); // no events were processed
        QCoreApplication::processEvents();
        QVERIFY(ran);
        t.restart();
        h.w->Tdelay(0);
        h.w->Tdelay(-1);
        QVERIFY(t.elapsed() < 300);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
