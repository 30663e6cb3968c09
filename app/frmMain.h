// SPDX-License-Identifier: MIT
#pragma once
// The main window: every control, and the handlers named after them. It is
// the bench's screen (BenchView): the handlers ask the bench session
// (session/BenchSession.h) to act, and the session shows what it does here.
// The state the handlers share lives in the session; the window names it as
// it always did (cmdMode, AddrSetFlg, ... refer to the session's).

#include "exchange/BenchView.h"
#include "exchange/RxWait.h"
#include "loops/LoopStats.h"
#include "exchange/ModeViews.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QDockWidget;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QVBoxLayout;
class BenchSession;
class ComPortMap;
class HelpWindow;
class LineMonitor;
class LineMonitorView;
class LoopStatsWindow;
class PlanPanel;
class PlanRecorder;
class PlanRunner;
class PortObject;
class SessionLog;
class SimHost;
class SimulatorMenu;
class TranscriptBox;
class UiSeams;
class frmPorts;

class frmMain : public QMainWindow, private BenchView
{
    Q_OBJECT
public:
    // The window uses the given port object, desktop seams and port mapping;
    // each may be null, and then the real serial port, the real desktop and
    // a mapping of the system's serial devices are used.
    explicit frmMain(PortObject *port = nullptr, UiSeams *seams = nullptr, ComPortMap *map = nullptr,
                     QWidget *parent = nullptr);
    ~frmMain() override;

    // ---- Controls outside frames
    QLabel *Label1 = nullptr;
    QLabel *ImageVek = nullptr;
    QPushButton *cmdInit = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdExit = nullptr;
    QLineEdit *txtRev = nullptr;
    QLabel *lblSCPI = nullptr;
    QLabel *lblX328 = nullptr;
    QLabel *lblXOnXoff = nullptr;
    QPlainTextEdit *txtERROR = nullptr;
    QLabel *lblCount = nullptr;
    QLineEdit *txtCount = nullptr;
    QLabel *lblLine = nullptr; // which device the line goes to (simulator shown plainly)
    PortObject *MSComm1 = nullptr; // the session's line
    QTimer *Timer1 = nullptr;      // the session's loop timer

    // ---- Frames and their controls
    QGroupBox *Frame2 = nullptr;
    QLineEdit *txtAddr = nullptr;
    QPushButton *cmdSet = nullptr;
    QGroupBox *frmReset = nullptr;
    QPushButton *cmdSCPI = nullptr;
    QGroupBox *frmDisconnect = nullptr;
    QPushButton *cmdDisconnect = nullptr;
    QGroupBox *frmXonXoff = nullptr;
    QPushButton *cmdXonXoff = nullptr;
    QGroupBox *frmDevCmd = nullptr;
    QComboBox *combCmd = nullptr;
    QPushButton *cmdSend = nullptr;
    QLabel *cmdLbl = nullptr;
    QGroupBox *frmDevResp = nullptr;
    QComboBox *combQuery = nullptr;
    QPushButton *cmdQuery = nullptr;
    QCheckBox *ckNAK = nullptr;
    QCheckBox *ckByteCnt = nullptr;
    QLabel *lblQuery = nullptr;
    TranscriptBox *txtResults = nullptr;
    QGroupBox *frmCmdLp = nullptr;
    QPushButton *cmdCmdtst = nullptr;
    QPushButton *cmdCmdtstoff = nullptr;
    QGroupBox *frmIDNLp = nullptr;
    QPushButton *cmdQtst = nullptr;
    QPushButton *cmdQtstOff = nullptr;
    QGroupBox *frmTimer = nullptr;
    QList<QRadioButton *> optTime; // members 0..4: 100 ms, 200 ms, 300 ms, 500 ms, 1 sec
    QGroupBox *frmANSITable = nullptr;
    QPushButton *cmdLdCmdTable = nullptr;
    QPushButton *cmdRdCmdTable = nullptr;

    // ---- The bench record: line monitor, session log, loop statistics, help
    QMenu *mnuLine = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *actMonitor = nullptr;          // shows or hides the line monitor (Ctrl+L)
    QAction *actLoopStats = nullptr;        // the loop statistics window (Ctrl+T)
    QAction *actSaveLog = nullptr;          // "Save Log..." (Ctrl+S)
    QAction *actLogContinuously = nullptr;  // a log file from every opening of the line (Ctrl+Shift+L)
    QAction *actHelp = nullptr;             // the Help button's action (F1)
    QAction *actUserGuide = nullptr;        // the built-in guide, directly
    QAction *actAbout = nullptr;            // version, licence, where the guides are
    QAction *actQuit = nullptr;             // "Quit" (Ctrl+Q): the Exit button's handler
    QDockWidget *dockMonitor = nullptr;     // the line monitor, a window of its own until docked
    LineMonitorView *monitorView = nullptr;
    QLabel *lblLoopStats = nullptr;         // the loops' outcomes beside the count
    QLabel *lblLogFile = nullptr;           // the continuous log's file, in the status bar

    // ---- Plans: a session recorded, a plan run through the window
    QMenu *mnuPlan = nullptr;
    QAction *actRecordPlan = nullptr;       // "Record Plan" (Ctrl+Shift+R), checked while recording
    QAction *actStopRecording = nullptr;    // "Stop Recording..." asks where to save
    QAction *actRunPlan = nullptr;          // "Run Plan..." (Ctrl+R)
    QDockWidget *dockPlan = nullptr;        // the run's steps, a window of its own
    PlanPanel *planPanel = nullptr;
    PlanRecorder &planRecorder() const { return *m_recorder; }
    // The plan run in progress, or null.
    PlanRunner *planRunner() const { return m_runner; }

    // ---- The bench behind the window
    BenchSession &session() const { return *m_session; }
    LineMonitor &lineMonitor() const;
    SessionLog &sessionLog() const;
    // The statistics of the command loop and the query loop since each started.
    const LoopStats &commandLoopStats() const;
    const LoopStats &queryLoopStats() const;
    LoopStatsWindow *loopStatsWindow() const { return m_statsWindow; }
    // The built-in help, once it has been opened.
    HelpWindow *helpWindow() const { return m_help; }
    frmPorts *portsDialog() const { return m_ports; }
    // Which device each COM number opens; handed to the port and the dialog.
    ComPortMap &portMap() const { return *m_map; }

private:
    // Declared before the names of the shared state, which refer into it.
    std::unique_ptr<ComPortMap> m_ownMap;
    ComPortMap *m_map = nullptr;
    std::unique_ptr<BenchSession> m_session;

public:
    // ---- Shared state (the session's; texts are byte strings)
    QByteArray &cmdMode;  // "SCPI", "X3.28" or "XonXoff"
    bool &AddrSetFlg;
    QByteArray &AddrStr;  // address character(s) sent before ENQ
    QByteArray &CmdStr;   // text of the last command or query sent
    QByteArray &OutStr;   // last framed string handed to Output
    QByteArray &Rdg;      // reply line of the last answered SCPI query
    qint64 &RdgAnswers;   // how many SCPI queries have been answered
    QByteArray &CRLFStr;  // transcript line break, CR LF
    qint64 &LpCount;      // loop ticks served
    int &CMDloopFlg;      // device command loop runs
    int &QloopFlg;        // query loop runs
    // The time one poll of a reply wait stands for, in microseconds (0:
    // polls as fast as they go, unblocked).
    int &pollPacingMicros;
    // Exchange in progress: another one asked for meanwhile is refused, a
    // loop tick is skipped.
    bool Busy() const;
    qint64 skippedTicks() const;
    qint64 refusedRequests() const;

public slots:
    // Application shell
    void Form_Load();
    void txtAddr_Change();
    void combCmd_KeyPress(int keyAscii);
    void combQuery_KeyPress(int keyAscii);
    void cmdHelp_Click();
    void cmdExit_Click();

    // Serial link
    void cmdInit_Click();
    void Tdelay(double delaytime);

    // Device language control
    void cmdSCPI_Click();
    void cmdSet_Click();
    void cmdDisconnect_Click();
    void cmdXonXoff_Click();

    // Device transactions
    void cmdSend_Click();
    void cmdQuery_Click();

    // ANSI command table
    void cmdLdCmdTable_Click();
    void cmdRdCmdTable_Click();

    // Test loops
    void cmdCmdtst_Click();
    void cmdCmdtstoff_Click();
    void cmdQtst_Click();
    void cmdQtstOff_Click();
    void optTime_Click(int index);
    void Timer1_Timer();

    // The bench record
    void actMonitor_Click(bool on);
    void actSaveLog_Click();
    void actLogContinuously_Click(bool on);
    void actLoopStats_Click();

    // Plans (app/PlanMenu.cpp)
    void actRecordPlan_Click(bool on);
    void actStopRecording_Click();
    void actRunPlan_Click();

    // The usual menu commands (app/ShellMenus.cpp)
    void actUserGuide_Click();
    void actAbout_Click();

public:
    // ---- The transcript and the error box, as the session uses them
    QByteArray resultsText() const override;
    void resultsReplace(const QByteArray &line);
    void resultsAppend(const QByteArray &line);
    void resultsRepaint() { repaintResults(); }
    QString errorText() const override;
    bool errorShown() const override;
    // Sets the error box, shows it, and beeps once unless told not to.
    void reportError(const QString &message, bool beep = true);
    void hideError() override;
    void beep() override;
    // ---- The line, as the session works it
    RxResult RxWait(const QList<QByteArray> &terminators, qint64 limit);
    bool drainInput();
    bool writeOut(const QByteArray &frame);
    void applyView(ModeView view);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // ---- The layout (app/frmMainLayout.cpp), one builder a frame
    void buildUi();
    QHBoxLayout *buildTitleRow();
    void buildShellControls();
    void buildAddressFrames();
    void buildTableFrame();
    void buildCommandFrame();
    void buildQueryFrame();
    void buildLoopFrames();
    void buildErrorBox();
    QVBoxLayout *assembleLeftColumn();
    void setTabOrderAndNames();
    void connectHandlers();
    // The menus, the line monitor, the statistics beside the count and the
    // log's place in the status bar (app/SessionRecord.cpp).
    void buildRecordUi();
    // The Plan menu, the run's panel and the recorder (app/PlanMenu.cpp).
    void buildPlanUi();
    void planFinished();
    // Quit, User Guide and About in those menus (app/ShellMenus.cpp).
    void buildShellMenus();
    // The built-in guide; when `why` is not empty, the help file could not
    // be shown: said whole at the guide's top, and `brief` in the status bar.
    void showGuide(const QString &brief = {}, const QString &why = {});
    void connectSession();

    // ---- BenchView: what the session shows here
    void replaceResults(const QByteArray &text) override;
    void appendResults(const QByteArray &separator, const QByteArray &line) override;
    void repaintResults() override;
    void showError(const QString &text) override;
    void clearError() override;
    void applyViewRow(const ViewRow &row) override;
    QByteArray commandText() const override;
    void setCommandText(const QByteArray &text) override;
    QByteArray queryText() const override;
    void setQueryText(const QByteArray &text) override;
    QByteArray addressText() const override;
    void setAddressText(const QByteArray &text) override;
    bool oneNak() const override;
    void setOneNak(bool on) override;
    bool byteCount() const override;
    void setByteCount(bool on) override;
    void sayBusy(bool on) override;
    Answer askYesNoCancel(const QString &text, const QString &title) override;

    // What the session says changed
    void showLineTarget();
    void showLoopCount();
    // Shows the loops' statistics (summary and window) after a change.
    void showLoopStats();
    void showLogFile();
    void endProgram();

    UiSeams *m_seams = nullptr;
    bool m_ownSeams = false;
    frmPorts *m_ports = nullptr;
    LoopStatsWindow *m_statsWindow = nullptr;
    HelpWindow *m_help = nullptr;
    QMessageBox *m_about = nullptr; // while it is open
    bool m_monitorShown = false; // the monitor was opened once (and placed)
    std::unique_ptr<PlanRecorder> m_recorder;
    PlanRunner *m_runner = nullptr;
    // The buttons a mode view row sets, in the order of kViewButtons.
    std::array<QPushButton *, kViewButtonCount> m_viewButtons{};
};

// Adds the Simulator menu for the simulated line `host` to the window's
// menu bar, before Help; the window owns it.
SimulatorMenu *installSimulatorMenu(frmMain &window, SimHost &host);
