// SPDX-License-Identifier: MIT
#pragma once
// The bench without a window: the owner of the line (the port object with
// the line monitor on its way), the state every operation shares, the
// one-exchange lock, the loops and their timer, and the record. Each
// operation a user can start is one method here; what it shows goes to a
// BenchView (the main window, a plan runner's record, a test's recorder).
//
// Operations are refused while another one holds the line (the busy notice
// and a beep), loop ticks skipped. Reply waits process events, so a click,
// Enter or a tick can ask for another operation during a wait; the line
// lock decides what happens to it. A line lost or an exit asked for during
// an operation comes due when it ends.

#include "exchange/LineLock.h"
#include "exchange/RxWait.h"
#include "loops/LoopRunner.h"
#include "serial/PortSelection.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class BenchRecord;
class ComPortMap;
class LineMonitor;
class MonitoredPort;
class PortObject;
class SessionLog;

// One operation a user started, as it ended: what it was, with what, and
// the line monitor's records it made (from `firstSeq` to `lastSeq`).
struct BenchOperation
{
    enum Kind { Open, Send, Query, Address, Scpi, Disconnect, XonXoff, LoadTable, ReadTable };
    Kind kind = Send;
    QByteArray mode;      // cmdMode when it started
    QByteArray text;      // Send, Query: the entry's text as it was; Address: the address typed
    PortChoice choice;    // Open
    bool ezZone = false;  // LoadTable: EZ-Zone (Yes) or F4 (No)
    bool answered = true; // LoadTable: false when the question was cancelled
    quint64 firstSeq = 0;
    quint64 lastSeq = 0;
};

class BenchSession : public QObject, private LoopHost
{
    Q_OBJECT
public:
    // Works the line through `port` (taken over; the real serial port when
    // null), opening the devices `map` names, and shows what it does on
    // `view`.
    BenchSession(PortObject *port, ComPortMap &map, BenchView &view, QObject *parent = nullptr);
    ~BenchSession() override;
    BenchSession(const BenchSession &) = delete;
    BenchSession &operator=(const BenchSession &) = delete;

    // ---- What the bench is made of
    BenchState &state() override { return m_state; }
    BenchView &view() override { return m_view; }
    const BenchState &state() const { return m_state; }
    // The line's port object, with the monitor on its way (MSComm1).
    PortObject &port() const;
    ComPortMap &portMap() const { return m_map; }
    BenchRecord &record() const { return *m_record; }
    LineMonitor &lineMonitor() const;
    SessionLog &sessionLog() const;
    // The loops' timer (Timer1): it ticks for the whole life of the bench.
    QTimer &timer() { return m_timer; }
    const LoopRunner &loops() const { return m_loops; }
    // The time one poll of a reply wait stands for, in microseconds; 0:
    // polls as fast as they go, unblocked (tests).
    int pollPacingMicros = 100;

    // ---- The line lock's view
    bool busy() const { return m_line.busy(); }
    bool exiting() const { return m_line.state() == LineLock::State::Exiting; }
    // The program is to end (waits end at once, nothing more starts).
    bool exitPending() const { return m_line.stopWaits(); }
    qint64 skippedTicks() const { return m_line.skippedTicks(); }
    qint64 refusedRequests() const { return m_line.refused(); }

    // ---- Where the line goes, for the screen
    struct LineTarget
    {
        bool open = false;
        bool lost = false;      // closed by a loss
        bool simulated = false; // open to the simulated converter
        int port = 0;
        QString device;
        QString settings;
    };
    LineTarget lineTarget() const;

    // ---- The operations a user starts. Those that can be refused say
    // whether they ran.
    // Start-up: SCPI mode, no loop, the timer ticking every 500 ms.
    void load();
    // The address entry was edited: the link must be opened again.
    void addressEdited();
    // cmdInit: closes the port, lets `choose` pick port and settings (the
    // port dialog), and opens the chosen port in SCPI mode. Sends nothing.
    bool init(const std::function<PortChoice()> &choose);
    // cmdSend, cmdQuery: one exchange from the entry's text.
    bool send();
    bool query();
    // The mode buttons and the link.
    bool scpi();
    bool disconnectLink();
    bool xonXoff();
    bool setAddress(const QByteArray &typed);
    // The ANSI command table; Load Examples asks EZ-Zone or F4 unless the
    // answer is given.
    bool loadTable(std::optional<BenchView::Answer> answer = std::nullopt);
    bool readTable();
    // The loops: start (false: refused, said), stop, the interval, a tick.
    bool startCommandLoop();
    void stopCommandLoop();
    bool startQueryLoop();
    void stopQueryLoop();
    void chooseInterval(int index);
    void tick();
    // cmdExit: DLE ENQ when a port is open, 0.3 s, the port closed, then
    // ended(). While an exchange waits, it ends at its next poll and the
    // exit follows.
    void requestExit();
    // The window's close control: true when the line was shut down now (the
    // window may close and the program end); false while an operation runs
    // (the exit follows its end).
    bool exitOnClose();

    // How the last send or query action ended.
    const ExchangeResult &lastResult() const { return m_lastResult; }

    // ---- A run of steps that holds the line (a plan): from holdLine() to
    // releaseLine() the user's operations are refused and loop ticks skipped,
    // as during any exchange; runStep() runs the run's own operations on it.
    // A loss or an exit asked for meanwhile comes due at the release.
    bool holdLine();
    void runStep(const std::function<void()> &step);
    void releaseLine();

    // ---- The record
    bool startLogging(const QString &folder);
    void stopLogging();

    // ---- The steps every operation shares (also for the window and tests)
    void resultsReplace(const QByteArray &text) override;
    void resultsAppend(const QByteArray &line);
    void reportError(const QString &message, bool beep = true) override;
    bool requirePort() override;
    bool drainInput() override;
    // The reply wait: polls, each processing events and reading all pending
    // input, until a terminator is in the buffer or the count passes the limit.
    RxResult RxWait(const QList<QByteArray> &terminators, qint64 limit);
    // Writes one framed string and remembers it in OutStr; false (and
    // reported) when the port did not take it.
    bool writeOut(const QByteArray &frame);
    // The same for a string that is not an exchange's frame.
    bool writeLine(const QByteArray &bytes);
    // The mode, labels, captions and buttons as the operation's row says.
    void applyView(ModeView view);

signals:
    // The line opened, closed or was lost.
    void lineChanged();
    // The loops' count (or whether it shows), or their statistics, changed.
    void loopCountChanged();
    void loopStatsChanged();
    // A notice for the status bar (a stale lock file taken over).
    void note(const QString &text);
    // The exit has run: the port is closed; the window closes, the program ends.
    void ended();
    // An operation a user started has ended (not for a refused one).
    void operationEnded(const BenchOperation &operation);

private:
    // ---- LoopHost and OperationHost
    bool lineGone() const override;
    bool stopping() const override { return m_line.stopWaits(); }
    qint64 overflows() const override { return m_overflows; }
    void delay(double seconds) override;
    void linkOpening() override { m_addrEditsAtLinkOpen = m_addrEdits; }
    ExchangeResult runSend() override;
    ExchangeResult runQuery() override;
    LineLock &lineLock() override { return m_line; }
    int tickIntervalMs() const override { return m_timer.interval(); }
    bool portOpen() const override;
    void endOperation() override;
    void showLoopCount() override { emit loopCountChanged(); }
    void showLoopStats() override { emit loopStatsChanged(); }
    // ---- ExchangeHost
    bool writeBytes(const QByteArray &bytes, bool frame) override;
    RxResult awaitReply(const QList<QByteArray> &terminators, qint64 limit) override;
    void waitFailed(const RxResult &r) override;
    void apply(const Act &act) override;

    // Runs an operation that needs the line to itself: false (the busy
    // notice) when another one holds it. Said as ended with `what`.
    bool runOperation(BenchOperation what, const std::function<void(BenchOperation &)> &operation);
    bool tryBegin();
    qint64 blockIdle(qint64 maxIdle);
    void reportWaitFailure(const RxResult &r);
    void reportLineClosed();
    void onPortLost(const QString &reason);
    // The loss of the line, once the operation that ran meanwhile has
    // ended: said unless a wait said it, and the screen as after start-up
    // in all that needs the port.
    void showLineLost();
    void openChosen(const PortChoice &choice);
    void performExit();
    void shutdownLine();

    ComPortMap &m_map;
    BenchView &m_view;
    BenchRecord *m_record = nullptr;
    MonitoredPort *m_tap = nullptr;
    BenchState m_state;
    LineLock m_line;
    LoopRunner m_loops;
    QTimer m_timer;
    QString m_lossMessage;
    quint64 m_addrEdits = 0;           // edits of the address entry so far
    quint64 m_addrEditsAtLinkOpen = 0; // ... when the link opening went out
    qint64 m_overflows = 0;            // waits ended by the receive bound
    ExchangeResult m_lastResult;
    bool m_held = false;      // a run of steps holds the line
    bool m_stepEntry = false; // the next operation is the run's own step
};
