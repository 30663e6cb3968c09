// SPDX-License-Identifier: MIT
#include "session/BenchSession.h"

#include "cmdtable/TableOperations.h"
#include "exchange/Protocol.h"
#include "exchange/SendQuery.h"
#include "modes/ModeOperations.h"
#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/MonitoredPort.h"
#include "serial/PortInit.h"
#include "serial/QtSerialPortObject.h"
#include "serial/Tdelay.h"
#include "session/BenchRecord.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <climits>

namespace {
// Holds the line for one operation; gives it back on every way out.
class Holding
{
public:
    explicit Holding(std::function<void()> end) : m_end(std::move(end)) {}
    ~Holding() { m_end(); }
    Holding(const Holding &) = delete;
    Holding &operator=(const Holding &) = delete;

private:
    std::function<void()> m_end;
};
} // namespace

BenchSession::BenchSession(PortObject *port, ComPortMap &map, BenchView &view, QObject *parent)
    : QObject(parent)
    , m_map(map)
    , m_view(view)
{
    // Every byte both ways, the drains and the line's opening and loss pass
    // the line monitor on their way.
    m_record = new BenchRecord(this);
    m_tap = new MonitoredPort(port ? port : new QtSerialPortObject, m_record->monitorPtr(), this);
    m_tap->usePortMap(&m_map);
    m_tap->setObjectName(QStringLiteral("MSComm1"));
    connect(m_tap, &PortObject::portLost, this, &BenchSession::onPortLost);
    connect(m_tap, &MonitoredPort::lineOpened, this, [this] { m_record->lineOpened(m_tap->CommPort()); });
    // A log file ends with the line's closing, whoever closes it.
    connect(m_tap, &MonitoredPort::lineClosed, m_record, &BenchRecord::finishLog);
    m_timer.setObjectName(QStringLiteral("Timer1"));
    connect(&m_timer, &QTimer::timeout, this, &BenchSession::tick);
}

BenchSession::~BenchSession()
{
    m_timer.stop();
}

PortObject &BenchSession::port() const
{
    return *m_tap;
}

LineMonitor &BenchSession::lineMonitor() const
{
    return m_record->monitor();
}

SessionLog &BenchSession::sessionLog() const
{
    return m_record->log();
}

bool BenchSession::portOpen() const
{
    return m_tap->PortOpen();
}

bool BenchSession::lineGone() const
{
    return m_line.stopWaits() || !m_tap->PortOpen();
}

void BenchSession::delay(double seconds)
{
    Tdelay(seconds);
}

BenchSession::LineTarget BenchSession::lineTarget() const
{
    LineTarget t;
    t.open = m_tap->PortOpen();
    t.lost = !m_lossMessage.isEmpty();
    t.port = m_tap->CommPort();
    t.device = m_tap->deviceName();
    t.settings = m_tap->Settings();
    // Judged by the device actually opened, not by the mapping as it is now.
    t.simulated = t.open && m_map.isSimulatorDevice(t.device);
    return t;
}

// ---- One operation at a time

bool BenchSession::tryBegin()
{
    if (m_line.tryBegin())
        return true;
    // Said apart from the error box, which keeps the exchanges' own errors;
    // the end of the waiting operation takes it back.
    if (m_line.state() != LineLock::State::Exiting) {
        m_view.sayBusy(true);
        m_view.beep();
    }
    return false;
}

void BenchSession::endOperation()
{
    const LineLock::Due due = m_line.end();
    m_view.sayBusy(false);
    if (due.lineLost)
        showLineLost();
    // The log holds each operation as soon as it has ended; a line closed
    // or lost meanwhile ends its file.
    m_record->flushLog();
    if (!m_tap->PortOpen())
        m_record->finishLog();
    if (due.exit)
        performExit();
}

bool BenchSession::runOperation(BenchOperation what, const std::function<void(BenchOperation &)> &operation)
{
    what.firstSeq = lineMonitor().lastSeq() + 1;
    what.mode = m_state.cmdMode;
    if (m_stepEntry) {
        // A step of the run that holds the line: taken at entry, so that an
        // operation asked for during its waits is refused as usual.
        m_stepEntry = false;
        operation(what);
    } else {
        if (!tryBegin())
            return false;
        const Holding holding([this] { endOperation(); });
        operation(what);
    }
    what.lastSeq = lineMonitor().lastSeq();
    emit operationEnded(what);
    return true;
}

bool BenchSession::holdLine()
{
    if (!tryBegin())
        return false;
    m_held = true;
    return true;
}

void BenchSession::runStep(const std::function<void()> &step)
{
    m_stepEntry = m_held;
    step();
    m_stepEntry = false;
    // The log holds each step as soon as it has ended.
    if (m_held)
        m_record->flushLog();
}

void BenchSession::releaseLine()
{
    if (!m_held)
        return;
    m_held = false;
    endOperation();
}

ExchangeResult BenchSession::runSend()
{
    m_record->beginTally();
    SendAction(*this);
    m_lastResult = m_record->finishTally("send");
    return m_lastResult;
}

ExchangeResult BenchSession::runQuery()
{
    m_record->beginTally();
    QueryAction(*this);
    m_lastResult = m_record->finishTally("query");
    return m_lastResult;
}

// ---- The operations

void BenchSession::load()
{
    m_state.CRLFStr = QByteArray("\r\n");
    m_loops.reset(m_state);
    chooseInterval(3);
    m_timer.start();
    applyView(ModeView::Load);
    m_state.AddrSetFlg = false;
}

void BenchSession::addressEdited()
{
    m_state.AddrSetFlg = false;
    ++m_addrEdits;
}

bool BenchSession::init(const std::function<PortChoice()> &choose)
{
    BenchOperation open;
    open.kind = BenchOperation::Open;
    // Loop ticks are skipped while the choice is made and the port is closed.
    return runOperation(open, [&](BenchOperation &what) {
        if (m_tap->PortOpen())
            m_tap->PortOpen(false);
        emit lineChanged();
        const PortChoice choice = choose();
        what.choice = choice;
        // Left because the program is ending (a signal): nothing is opened.
        if (m_line.stopWaits())
            return;
        if (choice.number == 0) {
            m_view.showError(QStringLiteral("No COM Port Selected"));
            m_view.beep();
            return;
        }
        m_view.hideError();
        openChosen(choice);
    });
}

// A refusal leaves the port closed and enables nothing that needs it.
void BenchSession::openChosen(const PortChoice &choice)
{
    if (const QString why = OpenChosenPort(*m_tap, choice); !why.isEmpty()) {
        reportError(why);
        applyView(ModeView::PortClosed);
        emit lineChanged();
        return;
    }
    m_lossMessage.clear();
    if (const QString said = m_tap->openNote(); !said.isEmpty())
        emit note(QStringLiteral("COM %1: %2").arg(choice.number).arg(said));
    applyView(ModeView::Init);
    resultsReplace({});
    m_state.CmdStr.clear();
    m_view.clearError();
    emit lineChanged();
}

namespace {
BenchOperation described(BenchOperation::Kind kind, const QByteArray &text = {})
{
    BenchOperation what;
    what.kind = kind;
    what.text = text;
    return what;
}
} // namespace

bool BenchSession::send()
{
    return runOperation(described(BenchOperation::Send, m_view.commandText()), [this](BenchOperation &) { runSend(); });
}

bool BenchSession::query()
{
    return runOperation(described(BenchOperation::Query, m_view.queryText()), [this](BenchOperation &) { runQuery(); });
}

bool BenchSession::scpi()
{
    return runOperation(described(BenchOperation::Scpi), [this](BenchOperation &) { ScpiButton(*this); });
}

bool BenchSession::disconnectLink()
{
    return runOperation(described(BenchOperation::Disconnect), [this](BenchOperation &) { DisconnectButton(*this); });
}

// Refused while an operation runs: a table load or a loop tick would go on
// in another language.
bool BenchSession::xonXoff()
{
    return runOperation(described(BenchOperation::XonXoff), [this](BenchOperation &) { XonXoffButton(*this); });
}

bool BenchSession::setAddress(const QByteArray &typed)
{
    return runOperation(described(BenchOperation::Address, typed), [&](BenchOperation &) { SetAddressButton(*this, typed); });
}

bool BenchSession::loadTable(std::optional<BenchView::Answer> answer)
{
    return runOperation(described(BenchOperation::LoadTable), [&](BenchOperation &what) {
        const std::optional<BenchView::Answer> given = LoadExampleTable(*this, answer);
        what.answered = given && *given != BenchView::Cancel;
        what.ezZone = given && *given == BenchView::Yes;
    });
}

bool BenchSession::readTable()
{
    return runOperation(described(BenchOperation::ReadTable), [this](BenchOperation &) { ReadCommandTable(*this); });
}

bool BenchSession::startCommandLoop()
{
    return m_loops.startCommandLoop(*this);
}

void BenchSession::stopCommandLoop()
{
    m_loops.stopCommandLoop(*this);
}

bool BenchSession::startQueryLoop()
{
    return m_loops.startQueryLoop(*this);
}

void BenchSession::stopQueryLoop()
{
    m_loops.stopQueryLoop(*this);
}

void BenchSession::chooseInterval(int index)
{
    if (const int ms = LoopRunner::intervalFor(index); ms > 0)
        m_timer.setInterval(ms);
}

void BenchSession::tick()
{
    // Between operations the log takes in what came outside them (a loop's
    // refusal, say); an operation's own records follow at its end.
    if (!m_line.busy())
        m_record->flushLog();
    m_loops.tick(*this);
}

// ---- The record

bool BenchSession::startLogging(const QString &folder)
{
    return m_record->startLogging(folder, m_tap->PortOpen() ? m_tap->CommPort() : 0);
}

void BenchSession::stopLogging()
{
    m_record->stopLogging();
}

// ---- Transcript and error box

void BenchSession::resultsReplace(const QByteArray &text)
{
    m_view.replaceResults(text);
    m_record->noteTranscript(true, text, m_state.CRLFStr);
}

void BenchSession::resultsAppend(const QByteArray &line)
{
    m_view.appendResults(m_state.CRLFStr, line);
    m_record->noteTranscript(false, line, m_state.CRLFStr);
}

void BenchSession::reportError(const QString &message, bool withBeep)
{
    m_record->noteError(message);
    m_view.showError(message);
    if (withBeep)
        m_view.beep();
}

void BenchSession::applyView(ModeView view)
{
    const ViewRow &row = viewRow(view);
    if (row.mode)
        m_state.cmdMode = row.mode;
    m_view.applyViewRow(row);
}

// ---- The line

bool BenchSession::requirePort()
{
    if (m_tap->PortOpen())
        return true;
    if (!m_lossMessage.isEmpty())
        reportError(QStringLiteral("The COM port is closed: %1. Use Initialize COM Port to open it again.").arg(m_lossMessage));
    else
        reportError(QStringLiteral("The COM port is not open: use Initialize COM Port first."));
    return false;
}

bool BenchSession::drainInput()
{
    m_tap->drain();
    // The read may find the line gone (lost while the program was busy):
    // the exchange stops before its write.
    if (m_tap->PortOpen())
        return true;
    reportLineClosed();
    return false;
}

bool BenchSession::writeOut(const QByteArray &frame)
{
    m_state.OutStr = frame;
    return writeLine(frame);
}

bool BenchSession::writeLine(const QByteArray &bytes)
{
    if (m_tap->Output(bytes))
        return true;
    if (!m_tap->PortOpen())
        reportLineClosed();
    else
        reportError(QStringLiteral("COM %1 (%2): the bytes could not be written: %3")
                        .arg(m_tap->CommPort())
                        .arg(m_tap->deviceName(), m_tap->errorText()));
    return false;
}

void BenchSession::reportLineClosed()
{
    reportError(m_lossMessage.isEmpty() ? QStringLiteral("The COM port was closed during the exchange.")
                                        : m_lossMessage + QStringLiteral("; the port is closed."));
}

RxResult BenchSession::RxWait(const QList<QByteArray> &terminators, qint64 limit)
{
    WaitHooks hooks;
    if (pollPacingMicros > 0 && m_tap->waitMayBlock())
        hooks.block = [this](qint64 maxIdle) { return blockIdle(maxIdle); };
    else
        hooks.pace = [this](PortObject &port) { port.waitForInput(pollPacingMicros); };
    hooks.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
    hooks.stop = [this] { return m_line.stopWaits(); };
    const MonitoredPort::WaitScope waiting(*m_tap);
    return ReplyWait(*m_tap, terminators, limit, hooks);
}

// The time between the event dispatcher's going to sleep and its waking is
// what the line stood idle; a timer at the end of the allowed polls bounds
// it. Window events and the port's read notifier wake it early, and the
// events are handled within (a click is refused, a loop tick skipped).
qint64 BenchSession::blockIdle(qint64 maxIdle)
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return 0;
    const qint64 slotNs = qint64(pollPacingMicros) * 1000;
    QElapsedTimer clock;
    qint64 blockedNs = 0;
    bool blocking = false;
    const auto sleep = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&] {
        blocking = true;
        clock.start();
    });
    const auto wake = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&] {
        if (blocking)
            blockedNs += clock.nsecsElapsed();
        blocking = false;
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    // Whole milliseconds, rounded up: the count of idle polls is capped anyway.
    deadline.start(int(std::min<qint64>((maxIdle * slotNs + 999'999) / 1'000'000, INT_MAX)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    disconnect(sleep);
    disconnect(wake);
    return std::min(maxIdle, blockedNs / slotNs);
}

void BenchSession::reportWaitFailure(const RxResult &r)
{
    switch (r.status) {
    case RxStatus::Received:
    case RxStatus::Timeout:
        break; // the exchange judges these itself
    case RxStatus::Overflow:
        ++m_overflows;
        reportError(QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the awaited "
                                   "reply; the exchange was ended")
                        .arg(kReceiveBound));
        break;
    case RxStatus::PortClosed:
        reportLineClosed();
        break;
    case RxStatus::Aborted:
        break; // the program is ending; nothing to show
    }
}

// ---- ExchangeHost: the exchanges reach the port and the screen through these

bool BenchSession::writeBytes(const QByteArray &bytes, bool frame)
{
    m_record->tallyBeforeWrite();
    const bool ok = frame ? writeOut(bytes) : writeLine(bytes);
    m_record->tallyWrite(ok, m_tap->PortOpen());
    return ok;
}

RxResult BenchSession::awaitReply(const QList<QByteArray> &terminators, qint64 limit)
{
    RxResult r = RxWait(terminators, limit);
    m_record->tallyWait(r.ok());
    return r;
}

void BenchSession::waitFailed(const RxResult &r)
{
    reportWaitFailure(r);
    m_record->tallyWaitFailed(r.status == RxStatus::Overflow  ? ExchangeOutcome::Overflow
                              : r.status == RxStatus::Aborted ? ExchangeOutcome::Aborted
                                                              : ExchangeOutcome::LineLost);
}

void BenchSession::apply(const Act &act)
{
    switch (act.kind) {
    case Act::Replace:
        resultsReplace(act.bytes);
        break;
    case Act::Append:
        resultsAppend(act.bytes);
        break;
    case Act::Repaint:
        m_view.repaintResults();
        break;
    case Act::Error:
        reportError(act.text, false);
        break;
    case Act::Beep:
        m_view.beep();
        break;
    case Act::Reply:
        m_state.Rdg = act.bytes;
        ++m_state.RdgAnswers;
        break;
    case Act::View:
        applyView(act.view);
        break;
    case Act::LinkOpened:
        // An address edited while the wait ran is not the one the link opened
        // with: the edit asks for cmdSet again, so the flag stays clear.
        m_state.AddrSetFlg = m_addrEdits == m_addrEditsAtLinkOpen;
        break;
    case Act::NakUsed:
        m_view.setOneNak(false);
        break;
    case Act::Outcome:
        m_record->tallySaid(act.outcome);
        break;
    case Act::HoldOff:
        m_record->tallyHoldOff();
        break;
    case Act::WriteFrame:
    case Act::Write:
    case Act::Await:
        break; // carried out by RunExchange
    }
}

// ---- A lost line, and the end

void BenchSession::onPortLost(const QString &reason)
{
    m_lossMessage = QStringLiteral("COM %1 (%2) was lost: %3").arg(m_tap->CommPort()).arg(m_tap->deviceName(), reason);
    emit lineChanged();
    // A wait in progress reports the loss itself when it ends; the rest
    // follows the end of the operation, after its own view changes.
    if (m_line.lineLost()) {
        showLineLost();
        m_record->finishLog();
    }
}

void BenchSession::showLineLost()
{
    // Said unless a wait of the operation said it already (lost while the
    // input was drained before a write that needs no answer, or in the very
    // poll that ended a wait by its count, no wait did).
    const QString loss = m_lossMessage + QStringLiteral("; the port is closed.");
    if (!m_view.errorShown())
        reportError(loss);
    else if (!m_view.errorText().contains(m_lossMessage))
        reportError(m_view.errorText() + QLatin1Char('\n') + loss, false);
    applyView(ModeView::PortClosed);
}

void BenchSession::requestExit()
{
    if (m_line.requestExit())
        performExit();
}

bool BenchSession::exitOnClose()
{
    if (!m_line.requestExit())
        return false;
    shutdownLine();
    return true;
}

void BenchSession::performExit()
{
    shutdownLine();
    emit ended();
}

// The orderly end of the line: DLE ENQ when a port is open, 0.3 s for it to
// leave, then the port is closed.
void BenchSession::shutdownLine()
{
    m_line.exiting();
    m_timer.stop();
    if (CommPortNum != 0 && m_tap->PortOpen()) {
        m_tap->Output(FrameDisconnect());
        Tdelay(0.3);
        m_tap->PortOpen(false);
    }
    m_record->finishLog();
}
