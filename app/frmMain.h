// SPDX-License-Identifier: MIT
#pragma once
// The main window: every control, the state all handlers share, and the
// handlers themselves. Handlers are implemented in the folder of their
// subsystem (serial/, modes/, exchange/, cmdtable/, loops/); this header is
// the one place that declares them.

#include "exchange/Exchange.h"
#include "exchange/LineLock.h"
#include "exchange/RxWait.h"
#include "loops/LoopStats.h"
#include "modes/ModeViews.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QDockWidget;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class ComPortMap;
class HelpWindow;
class LineMonitor;
class LineMonitorView;
class LoopStatsWindow;
class MonitoredPort;
class PortObject;
class SessionLog;
class TranscriptBox;
class UiSeams;
class frmPorts;

class frmMain : public QMainWindow, private ExchangeHost
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
    PortObject *MSComm1 = nullptr;
    QTimer *Timer1 = nullptr;

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
    LineMonitor &lineMonitor() const { return *m_monitor; }
    SessionLog &sessionLog() const { return *m_log; }
    // The statistics of the command loop and the query loop since each started.
    const LoopStats &commandLoopStats() const { return m_cmdStats; }
    const LoopStats &queryLoopStats() const { return m_queryStats; }
    // How the last send or query action ended.
    const ExchangeResult &lastResult() const { return m_lastResult; }
    LoopStatsWindow *loopStatsWindow() const { return m_statsWindow; }
    // The built-in help, once it has been opened.
    HelpWindow *helpWindow() const { return m_help; }

    frmPorts *portsDialog() const { return m_ports; }
    // Which device each COM number opens; handed to the port and the dialog.
    ComPortMap &portMap() const { return *m_map; }

    // ---- Shared state (texts are byte strings, one byte per character)
    QByteArray cmdMode;     // "SCPI", "X3.28" or "XonXoff"
    bool AddrSetFlg = false;
    QByteArray AddrStr;     // address character(s) sent before ENQ
    QByteArray CmdStr;      // text of the last command or query sent
    QByteArray OutStr;      // last framed string handed to Output
    QByteArray Rdg;         // reply line of the last answered SCPI query
    qint64 RdgAnswers = 0;  // how many SCPI queries have been answered (tells a fresh Rdg from a stale one)
    QByteArray CRLFStr;     // transcript line break, CR LF
    qint64 LpCount = 0;     // loop ticks served
    int CMDloopFlg = 0;     // device command loop runs
    int QloopFlg = 0;       // query loop runs

    // ---- Reply wait tuning and bookkeeping
    // The time one poll stands for. On a port whose input wakes the event
    // loop, a wait with nothing to read blocks in it, and the time it spends
    // blocked counts as polls of this length; on other ports each poll waits
    // at most this long for input. 0: polls as fast as they go, unblocked.
    int pollPacingMicros = 100;
    // Exchange in progress: another one asked for meanwhile is refused, a
    // loop tick is skipped.
    bool Busy() const { return m_line.busy(); }
    qint64 skippedTicks() const { return m_line.skippedTicks(); }
    qint64 refusedRequests() const { return m_line.refused(); }

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

    // The usual menu commands (app/ShellMenus.cpp)
    void actUserGuide_Click();
    void actAbout_Click();

public:
    // ---- Transcript and error box conventions
    QByteArray resultsText() const;
    void resultsReplace(const QByteArray &line);
    void resultsAppend(const QByteArray &line);
    void resultsRepaint();
    QString errorText() const;
    bool errorShown() const;
    // Sets the error box, shows it, and beeps once unless told not to.
    void reportError(const QString &message, bool beep = true);
    void hideError();
    void beep();

    // ---- The reply wait: polls, each processing window events and reading
    // all pending input, until a terminator is in the buffer or the count
    // passes the limit.
    RxResult RxWait(const QList<QByteArray> &terminators, qint64 limit);
    // Reads and drops everything pending. False (and reported) when the
    // line is closed or the read found it lost.
    bool drainInput();
    // Writes one framed string and remembers it in OutStr. False (and
    // reported) when the port did not take it: nothing of it counts as sent.
    bool writeOut(const QByteArray &frame);
    // The same for a string that is not an exchange's frame (the escape, the
    // disconnect, the link opening, the bare copy of a language switch).
    bool writeLine(const QByteArray &bytes);
    // Reports the line closed under a running operation (lost or closed).
    void reportLineClosed();
    // Reports why a wait ended without its terminator for the non-timeout
    // cases (overflow, lost port; an ending program shows nothing).
    void reportWaitFailure(const RxResult &r);
    // True when the port is open; otherwise reports the closed port.
    bool requirePort();
    // Sets the mode, labels, captions and buttons as the operation's row says.
    void applyView(ModeView view);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class BusyScope;
    void buildUi();
    // The menus, the line monitor, the statistics beside the count and the
    // log's place in the status bar (app/SessionRecord.cpp).
    void buildRecordUi();
    // Quit, User Guide and About in those menus (app/ShellMenus.cpp).
    void buildShellMenus();
    // The built-in guide; when `why` is not empty, the help file could not
    // be shown: said whole at the guide's top, and `brief` in the status bar.
    void showGuide(const QString &brief = {}, const QString &why = {});
    void onPortLost(const QString &reason);
    void showLineTarget();
    // The loss of the line, once the operation that ran meanwhile has ended:
    // said unless a wait said it, and the window as after load in all that
    // needs the port.
    void showLineLost();
    // Starts an operation for the one-exchange rule; false (and said in the
    // status bar) when another one is waiting.
    bool tryBegin();
    void endOperation();
    void performExit();
    void shutdownLine();

    // Blocks in the event loop until input, a window event or a timer, at
    // most `maxIdle` polls' time; returns the whole polls' time spent blocked.
    qint64 blockIdle(qint64 maxIdle);

    // ExchangeHost: the exchanges reach the port and the display through these.
    bool writeBytes(const QByteArray &bytes, bool frame) override;
    RxResult awaitReply(const QList<QByteArray> &terminators, qint64 limit) override;
    void waitFailed(const RxResult &r) override;
    void apply(const Act &act) override;

    // Branches of the send and query actions (exchange/)
    void sendScpi();
    void sendX328();
    void sendXonXoff();
    void queryX328();
    void queryXonXoff();
    // The send and query actions without the busy check, for callers that
    // already hold the line (table operations, loop ticks).
    void runSend();
    void runQuery();
    // ---- Counting an exchange (app/SessionRecord.cpp). Each send and query
    // action is one exchange: its steps say how it ended, its writes and
    // waits when it started and when its last awaited byte came.
    struct Tally
    {
        bool active = false;
        bool wrote = false;
        std::optional<ExchangeOutcome> said; // by the exchange's judgement
        std::optional<ExchangeOutcome> line; // by a failed write or wait
        int holdOffs = 0;
        qint64 firstWriteNs = -1;
        qint64 replyNs = -1; // the last wait's awaited byte; -1 when it got none
    };
    void beginTally();
    // Ends the count: the result is kept and recorded ("send" or "query").
    void finishTally(const char *action);
    // Shows the loops' statistics (summary and window) after a change.
    void loopStatsChanged();
    // A transcript text, line by line, into the monitor's record.
    void noteTranscript(bool fresh, const QByteArray &text);
    // The continuous log: a file per opening of the line, written at the
    // end of every operation and finished when the line closes.
    void onLineOpened();
    void startLogFile(quint64 fromSeq);
    void flushLog();
    void finishLog();
    void logFailed();
    void showLogFile();

    // Takes the entry text, refilling it from CmdStr; false when there is
    // nothing to send (reported).
    bool takeEntry(QComboBox *box);
    // The same for X3.28, which also needs the open link.
    bool takeX328Entry(QComboBox *box);

    UiSeams *m_seams = nullptr;
    bool m_ownSeams = false;
    std::unique_ptr<ComPortMap> m_ownMap;
    ComPortMap *m_map = nullptr;
    frmPorts *m_ports = nullptr;
    LineLock m_line;
    QString m_lossMessage;
    quint64 m_addrEdits = 0;            // edits of txtAddr so far
    quint64 m_addrEditsAtLinkOpen = 0;  // ... when the link opening went out
    qint64 m_overflows = 0;  // waits ended by the receive bound

    std::shared_ptr<LineMonitor> m_monitor;
    MonitoredPort *m_tap = nullptr; // MSComm1: the line's port with the monitor on the way
    std::unique_ptr<SessionLog> m_log;
    QString m_logFolder; // continuous logging goes there; empty: off
    QElapsedTimer m_clock;
    Tally m_tally;
    ExchangeResult m_lastResult;
    LoopStats m_cmdStats;
    LoopStats m_queryStats;
    LoopStatsWindow *m_statsWindow = nullptr;
    HelpWindow *m_help = nullptr;
    QMessageBox *m_about = nullptr; // while it is open
    bool m_monitorShown = false; // the monitor was opened once (and placed)
};

// Holds the line for one operation; releases it on every way out.
class BusyScope
{
public:
    // For an operation that has the line (tryBegin gave it).
    explicit BusyScope(frmMain &w) : m_w(w) {}
    ~BusyScope() { m_w.endOperation(); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    frmMain &m_w;
};
