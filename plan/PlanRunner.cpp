// SPDX-License-Identifier: MIT
#include "plan/PlanRunner.h"

#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/LineSettings.h"
#include "serial/PortObject.h"
#include "serial/PortSelection.h"
#include "session/BenchSession.h"

#include <algorithm>
#include <utility>

namespace {
// Inserts steps in front of a plan, its repeat partners moved along.
void prepend(Plan &plan, const QList<PlanStep> &steps)
{
    for (PlanStep &s : plan.steps)
        if (s.partner >= 0)
            s.partner += int(steps.size());
    plan.steps = steps + plan.steps;
}

PlanStep optionStep(PlanStep::Kind kind, const QString &source)
{
    PlanStep s;
    s.kind = kind;
    s.line = 0;
    s.source = source;
    return s;
}
} // namespace

PlanRunner::PlanRunner(BenchSession &session, const Plan &plan, const Options &options, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_plan(plan)
    , m_options(options)
{
    // --repeat: the whole plan inside one more repeat.
    if (m_options.repeat > 1) {
        PlanStep repeat = optionStep(PlanStep::Repeat, QStringLiteral("repeat %1 (--repeat)").arg(m_options.repeat));
        repeat.number = m_options.repeat;
        prepend(m_plan, {repeat});
        PlanStep end = optionStep(PlanStep::End, QStringLiteral("end"));
        end.partner = 0;
        m_plan.steps[0].partner = int(m_plan.steps.size());
        m_plan.steps.append(end);
    }
    // --port with a plan that opens nothing: it is opened first.
    const bool opens = std::any_of(m_plan.steps.cbegin(), m_plan.steps.cend(),
                                   [](const PlanStep &s) { return s.kind == PlanStep::Open; });
    if (!opens && !m_options.port.isEmpty()) {
        PlanStep open = optionStep(PlanStep::Open, QStringLiteral("open %1 (--port)").arg(m_options.port));
        open.port = m_options.port;
        prepend(m_plan, {open});
    }
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &PlanRunner::next);
    m_settle.setInterval(2);
    m_settle.setTimerType(Qt::PreciseTimer);
    connect(&m_settle, &QTimer::timeout, this, &PlanRunner::settleTick);
    m_pause.setSingleShot(true);
    m_pause.setTimerType(Qt::PreciseTimer); // a pause lasts what it says, not 5 % less
    connect(&m_pause, &QTimer::timeout, this, &PlanRunner::resume);
}

void PlanRunner::resume()
{
    if (const std::function<void()> then = std::exchange(m_resume, {}))
        then();
}

PlanRunner::~PlanRunner()
{
    if (m_running)
        m_session.releaseLine();
}

bool PlanRunner::start()
{
    m_summary = RunSummary();
    m_clock.start();
    if (!m_session.holdLine()) {
        m_summary.refused = true;
        emit finished(m_summary);
        return false;
    }
    m_running = true;
    m_stopAsked = false;
    m_opened = false;
    m_endWhy.clear();
    m_cursor.emplace(m_plan);
    m_pace.start(0);
    return true;
}

void PlanRunner::stop()
{
    if (!m_running)
        return;
    m_stopAsked = true;
    // A pause in progress ends now; a step in progress ends first.
    if (m_pause.isActive()) {
        m_pause.stop();
        resume();
    }
}

void PlanRunner::next()
{
    if (!m_running)
        return;
    if (m_stopAsked || m_session.exitPending()) {
        m_summary.interrupted = true;
        reportNotRun(QStringLiteral("the run was stopped"));
        finishRun();
        return;
    }
    const std::optional<PlanItem> item = m_cursor->next();
    if (!item) {
        finishRun();
        return;
    }
    runStep(*item);
}

void PlanRunner::runStep(const PlanItem &item)
{
    m_stepMode = m_session.state().cmdMode;
    StepResult result;
    result.id = item.id();
    result.name = item.name();
    result.line = item.step->line;
    emit stepStarted(result);
    QElapsedTimer took;
    took.start();
    if (item.step->kind == PlanStep::Pause) {
        // The line rests; the event loop goes on (input is read as it comes).
        m_resume = [this, result, took]() mutable {
            // Cut short by a stop, the pause did not run its time.
            result.outcome = m_stopAsked ? StepResult::NotRun : StepResult::Passed;
            if (m_stopAsked)
                result.message = QStringLiteral("the run was stopped during the pause");
            result.seconds = double(took.nsecsElapsed()) / 1e9;
            finishStep(result);
        };
        m_pause.start(item.step->number);
        return;
    }
    const bool goOn = perform(*item.step, result);
    result.seconds = double(took.nsecsElapsed()) / 1e9;
    if (!goOn && m_endWhy.isEmpty())
        m_endWhy = QStringLiteral("the run ended at %1").arg(result.id);
    finishStep(result);
}

bool PlanRunner::perform(const PlanStep &step, StepResult &result)
{
    BenchView &view = m_session.view();
    const bool wasOpen = m_session.port().PortOpen();
    const quint64 fromSeq = m_session.lineMonitor().lastSeq() + 1;
    switch (step.kind) {
    case PlanStep::Open:
        return open(step, result);
    case PlanStep::Send:
        view.setCommandText(step.text);
        m_session.runStep([this] { m_session.send(); });
        m_summary.sends.add(m_session.lastResult());
        break;
    case PlanStep::Query:
        view.setQueryText(step.text);
        m_session.runStep([this] { m_session.query(); });
        m_summary.queries.add(m_session.lastResult());
        break;
    case PlanStep::Address:
        view.setAddressText(step.text);
        m_session.addressEdited();
        m_session.runStep([&] { m_session.setAddress(step.text); });
        break;
    case PlanStep::Scpi:
        m_session.runStep([this] { m_session.scpi(); });
        break;
    case PlanStep::Disconnect:
        m_session.runStep([this] { m_session.disconnectLink(); });
        break;
    case PlanStep::XonXoff:
        m_session.runStep([this] { m_session.xonXoff(); });
        break;
    case PlanStep::Nak:
        view.setOneNak(step.on);
        break;
    case PlanStep::Count:
        view.setByteCount(step.on);
        break;
    case PlanStep::LoadTable:
        m_session.runStep([&] { m_session.loadTable(step.ezZone ? BenchView::Yes : BenchView::No); });
        break;
    case PlanStep::ReadTable:
        m_session.runStep([this] { m_session.readTable(); });
        break;
    case PlanStep::Pause:
    case PlanStep::Repeat:
    case PlanStep::End:
        break;
    }
    judge(step, fromSeq, result);
    if (wasOpen && !m_session.port().PortOpen()) {
        result.outcome = StepResult::Error;
        result.message = view.errorShown() ? view.errorText() : QStringLiteral("the line was lost");
        m_summary.lineLost = true;
        m_endWhy = QStringLiteral("the line was lost at %1").arg(result.id);
        return false;
    }
    if (result.outcome == StepResult::Failed && m_options.stopOnFailure) {
        m_endWhy = QStringLiteral("%1 failed (--stop-on-failure)").arg(result.id);
        return false;
    }
    return !m_session.exitPending();
}

// Opens the port as Initialize COM Port does with the step's choice (the
// options' where given): a COM number as the port dialog maps it, a device
// path on a number of its own, or the simulated converter.
bool PlanRunner::open(const PlanStep &given, StepResult &result)
{
    PlanStep step = given;
    if (!m_options.port.isEmpty())
        step.port = m_options.port;
    if (m_options.baud > 0)
        step.baud = m_options.baud;
    if (!m_options.format.isEmpty())
        step.format = m_options.format;
    ComPortMap &map = m_session.portMap();
    int number = step.comNumber();
    QString refusal;
    if (number == 0 && step.port == QLatin1String("simulator")) {
        const QList<int> sim = map.simulatorNumbers();
        if (!sim.isEmpty())
            number = sim.first();
        else if (map.simulatorAvailable())
            map.setSimulator(number = ComPortMap::PortCount);
        else
            refusal = QStringLiteral("%1: the simulated converter is not available here").arg(step.port);
    } else if (number == 0) {
        // A number that opens the path already, else the first without a
        // device, else COM 1, pointed at it.
        for (int n = 1; n <= ComPortMap::PortCount && number == 0; ++n)
            if (map.entry(n).kind == ComEntry::Device && map.entry(n).path == step.port)
                number = n;
        for (int n = 1; n <= ComPortMap::PortCount && number == 0; ++n)
            if (map.entry(n).kind == ComEntry::None)
                number = n;
        if (number == 0)
            number = 1;
        map.setDevice(number, step.port);
    }
    const quint64 fromSeq = m_session.lineMonitor().lastSeq() + 1;
    if (refusal.isEmpty()) {
        m_session.runStep([&] {
            m_session.init([&] {
                CommPortNum = number;
                PortSettings = step.settings();
                return currentPortChoice();
            });
        });
        judge(given, fromSeq, result);
    } else {
        m_session.reportError(refusal);
        judge(given, fromSeq, result);
    }
    if (m_session.port().PortOpen())
        m_opened = true;
    if (m_session.port().PortOpen() || result.outcome == StepResult::Passed)
        return !m_session.exitPending();
    // The port would not open and nothing expected that: nothing more can
    // go out. Refused before anything was sent, the run sent nothing.
    result.outcome = StepResult::Error;
    result.message = m_session.view().errorText();
    m_summary.portRefused = !m_opened;
    m_endWhy = QStringLiteral("the port did not open at %1").arg(result.id);
    return false;
}

// The transcript lines and the error the step produced, from the line
// monitor's record of it, against its expectations.
void PlanRunner::judge(const PlanStep &step, quint64 fromSeq, StepResult &result)
{
    const LineMonitor &monitor = m_session.lineMonitor();
    QList<QByteArray> lines;
    QString error;
    for (quint64 seq = std::max(fromSeq, monitor.firstSeq()); seq <= monitor.lastSeq(); ++seq) {
        const MonitorRecord *r = monitor.find(seq);
        if (r && (r->kind == MonitorRecord::Show || r->kind == MonitorRecord::Line))
            lines << r->bytes;
        else if (r && r->kind == MonitorRecord::Error)
            error = QString::fromUtf8(r->bytes);
    }
    result.verdict = judgeStep(step.expectations, lines, error);
    result.outcome = result.verdict.passed ? StepResult::Passed : StepResult::Failed;
}

void PlanRunner::finishStep(StepResult &result)
{
    switch (result.outcome) {
    case StepResult::Passed: ++m_summary.passed; break;
    case StepResult::Failed: ++m_summary.failed; break;
    case StepResult::Error: ++m_summary.errors; break;
    case StepResult::NotRun: ++m_summary.notRun; break;
    }
    emit stepFinished(result);
    if (!m_endWhy.isEmpty()) {
        reportNotRun(m_endWhy);
        finishRun();
        return;
    }
    settle(m_stepMode == "SCPI" || m_session.state().cmdMode == "SCPI");
}

void PlanRunner::settle(bool scpi)
{
    const auto line = parseLineSettings(m_session.port().Settings());
    const double characterMs = line ? 1000.0 * line->bitsPerChar() / line->baud : 1.0;
    m_quietMs = scpi ? std::max(kQuietMs, int(4 * characterMs) + 1) : int(2 * characterMs) + 1;
    m_seenSeq = m_session.lineMonitor().lastSeq();
    m_quietFor.start();
    m_settling.start();
    m_settle.start();
}

void PlanRunner::settleTick()
{
    if (const quint64 seq = m_session.lineMonitor().lastSeq(); seq != m_seenSeq) {
        m_seenSeq = seq;
        m_quietFor.start();
    }
    if (m_quietFor.elapsed() < m_quietMs && m_settling.elapsed() < kSettleMaxMs && !m_stopAsked)
        return;
    m_settle.stop();
    next();
}

void PlanRunner::reportNotRun(const QString &why)
{
    while (const std::optional<PlanItem> item = m_cursor->next()) {
        StepResult r;
        r.id = item->id();
        r.name = item->name();
        r.line = item->step->line;
        r.message = why;
        ++m_summary.notRun;
        emit stepFinished(r);
    }
}

void PlanRunner::finishRun()
{
    if (!m_running)
        return;
    m_running = false;
    m_pace.stop();
    m_pause.stop();
    m_settle.stop();
    m_resume = {};
    m_summary.seconds = double(m_clock.nsecsElapsed()) / 1e9;
    // The loss or an exit asked for meanwhile comes due now.
    m_session.releaseLine();
    emit finished(m_summary);
}
