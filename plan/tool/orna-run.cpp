// SPDX-License-Identifier: MIT
// orna-run: runs plans without a window, on the same bench code the window
// drives, and reports for CI.
//
// Every plan is read first: a plan with a fault (named by file and line),
// a bad option or a port that will not open ends it with status 2 before
// anything further is sent. Then the plans run one after another; each step
// prints one line (its result, time and name), a failed one its expected
// and observed lines, each plan a summary with the statistics of its send
// and query steps. --junit writes the JUnit XML CI servers read, --log the
// session log. Status: 0 all passed, 1 a step failed or the line was lost,
// 2 a bad plan, option or port, 128 + N after signal N (SIGINT, SIGTERM,
// SIGHUP), which ends the run after the exchange in progress, with the
// report and the log written and the port closed.

#include "plan/JUnitReport.h"
#include "plan/Plan.h"
#include "plan/PlanRunner.h"
#include "plan/PlanView.h"
#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/LineSettings.h"
#include "serial/PortObject.h"
#include "serial/SafeFile.h"
#include "serial/SessionLog.h"
#include "session/BenchRecord.h"
#include "session/BenchSession.h"
#include "session/ExitSignals.h"
#include "sim/SimulatedLine.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int usageError(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("orna-run: %1\n").arg(text)), stderr);
    return kUsage;
}

QString indented(const QString &text)
{
    QString out;
    for (const QString &line : text.trimmed().split(QLatin1Char('\n')))
        out += QStringLiteral("      ") + line + QLatin1Char('\n');
    return out.chopped(1);
}

QString outcomeWord(StepResult::Outcome o)
{
    switch (o) {
    case StepResult::Passed: return QStringLiteral("PASS   ");
    case StepResult::Failed: return QStringLiteral("FAIL   ");
    case StepResult::Error: return QStringLiteral("ERROR  ");
    case StepResult::NotRun: return QStringLiteral("NOT RUN");
    }
    return {};
}

JUnitCase junitCase(const StepResult &r, const QString &className)
{
    JUnitCase c;
    c.name = r.name;
    c.className = className;
    c.seconds = r.seconds;
    switch (r.outcome) {
    case StepResult::Passed: c.outcome = JUnitCase::Passed; break;
    case StepResult::Failed:
        c.outcome = JUnitCase::Failed;
        c.message = r.verdict.message();
        c.details = r.verdict.details();
        break;
    case StepResult::Error:
        c.outcome = JUnitCase::Error;
        c.message = r.message;
        c.details = r.verdict.details();
        break;
    case StepResult::NotRun:
        c.outcome = JUnitCase::Skipped;
        c.message = QStringLiteral("not run: ") + r.message;
        break;
    }
    return c;
}

// The statistics of the send and query steps: the loop statistics' rows
// that mean something for steps (no start, no skipped ticks).
QString stepStats(const RunSummary &s)
{
    QString text = QStringLiteral("%1  %2  %3\n").arg(QString(), -30).arg(QStringLiteral("Send steps"), 12).arg(
        QStringLiteral("Query steps"), 12);
    for (const StatsRow &row : statsRows()) {
        const QString label = QLatin1String(row.label);
        if (label.startsWith(QLatin1String("Started")) || label.startsWith(QLatin1String("Ticks skipped")))
            continue;
        text += QStringLiteral("%1  %2  %3\n").arg(label, -30).arg(row.value(s.sends), 12).arg(row.value(s.queries), 12);
    }
    return text;
}

struct Args
{
    QStringList plans;
    PlanRunner::Options options;
    QString junit;
    QString log;
    bool check = false;
};

// The options as given; nothing when they are faulty (said, status 2).
std::optional<Args> parseArgs(QCoreApplication &app, int *status)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs OrnaSerTest plans without a window: each step is the operation a user would start in the window, "
        "judged by the transcript lines and the error it produced."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Open PORT (COM1 to COM6, a device path, or simulator) instead of "
                                                "what every open step names; a plan without one opens it first."),
         QStringLiteral("PORT")},
        {QStringLiteral("baud"), QStringLiteral("The rate for every open step: 1200, 2400, 9600, 19200 or 38400."),
         QStringLiteral("N")},
        {QStringLiteral("format"), QStringLiteral("The format for every open step: 8N1, 7E1 or 7O1."),
         QStringLiteral("F")},
        {QStringLiteral("junit"), QStringLiteral("Write the results as JUnit XML to FILE."), QStringLiteral("FILE")},
        {QStringLiteral("log"), QStringLiteral("Write the session log to FILE."), QStringLiteral("FILE")},
        {QStringLiteral("repeat"), QStringLiteral("Run each plan N times."), QStringLiteral("N")},
        {QStringLiteral("stop-on-failure"), QStringLiteral("End a plan at its first failed step.")},
        {QStringLiteral("check"), QStringLiteral("Read the plans and report their faults; open nothing.")},
    });
    parser.addPositionalArgument(QStringLiteral("PLAN"), QStringLiteral("Plan files, run in the order given."),
                                 QStringLiteral("PLAN..."));
    *status = kUsage;
    if (!parser.parse(QCoreApplication::arguments())) {
        usageError(parser.errorText() + QStringLiteral(" See orna-run --help."));
        return std::nullopt;
    }
    parser.process(app); // --help and --version end here
    Args a;
    a.plans = parser.positionalArguments();
    if (a.plans.isEmpty()) {
        usageError(QStringLiteral("no plan given. See orna-run --help."));
        return std::nullopt;
    }
    a.options.port = parser.value(QStringLiteral("port"));
    if (!a.options.port.isEmpty()) {
        // The same ports an open step takes.
        QList<PlanError> errors;
        parsePlan("open " + a.options.port.toUtf8(), QStringLiteral("--port"), &errors);
        if (!errors.isEmpty()) {
            usageError(QStringLiteral("--port: %1").arg(errors.first().message));
            return std::nullopt;
        }
    }
    if (parser.isSet(QStringLiteral("baud"))) {
        a.options.baud = parser.value(QStringLiteral("baud")).toInt();
        if (!QList<int>{1200, 2400, 9600, 19200, 38400}.contains(a.options.baud)) {
            usageError(QStringLiteral("--baud: '%1' is not 1200, 2400, 9600, 19200 or 38400")
                           .arg(parser.value(QStringLiteral("baud"))));
            return std::nullopt;
        }
    }
    a.options.format = parser.value(QStringLiteral("format"));
    if (!a.options.format.isEmpty() && !QStringList{QStringLiteral("8N1"), QStringLiteral("7E1"), QStringLiteral("7O1")}
                                            .contains(a.options.format)) {
        usageError(QStringLiteral("--format: '%1' is not 8N1, 7E1 or 7O1").arg(a.options.format));
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("repeat"))) {
        bool ok = false;
        a.options.repeat = parser.value(QStringLiteral("repeat")).toInt(&ok);
        if (!ok || a.options.repeat < 1) {
            usageError(QStringLiteral("--repeat: '%1' is not a whole number of 1 or more")
                           .arg(parser.value(QStringLiteral("repeat"))));
            return std::nullopt;
        }
    }
    a.options.stopOnFailure = parser.isSet(QStringLiteral("stop-on-failure"));
    a.junit = parser.value(QStringLiteral("junit"));
    a.log = parser.value(QStringLiteral("log"));
    // Known at once, not after the run: a report or a log that cannot be
    // written stops orna-run before it sends anything.
    for (const QString &file : {a.junit, a.log}) {
        const QFileInfo folder(QFileInfo(file).absolutePath());
        if (!file.isEmpty() && (!folder.isDir() || !folder.isWritable())) {
            usageError(QStringLiteral("cannot write %1: the folder %2 does not exist or may not be written")
                           .arg(file, folder.filePath()));
            return std::nullopt;
        }
    }
    a.check = parser.isSet(QStringLiteral("check"));
    *status = 0;
    return a;
}

// A report of plans that were not run for their faults: CI shows the
// faults, never an older report.
void reportFaults(const Args &args, const QMap<QString, QStringList> &faults)
{
    if (args.junit.isEmpty())
        return;
    QList<JUnitSuite> suites;
    for (const QString &file : args.plans) {
        JUnitSuite suite;
        suite.name = QFileInfo(file).completeBaseName();
        suite.timestamp = QDateTime::currentDateTime();
        JUnitCase c;
        c.name = QStringLiteral("reading the plan");
        c.className = suite.name;
        if (faults.contains(file)) {
            c.outcome = JUnitCase::Error;
            c.message = QStringLiteral("the plan has faults; nothing was run");
            c.details = faults.value(file).join(QLatin1Char('\n'));
        } else {
            c.outcome = JUnitCase::Skipped;
            c.message = QStringLiteral("not run: another plan has faults");
        }
        suite.cases << c;
        suites << suite;
    }
    QBuffer xml;
    xml.open(QIODevice::WriteOnly);
    QString why;
    if (!::writeJUnit(&xml, suites) || !SafeFile::replace(args.junit, xml.data(), &why))
        usageError(QStringLiteral("cannot write %1: %2").arg(args.junit, why));
}

// The plans, read and checked; every fault of every plan is said.
std::optional<QList<Plan>> readPlans(const Args &args)
{
    QList<Plan> plans;
    bool faulty = false;
    QMap<QString, QStringList> faults;
    for (const QString &file : args.plans) {
        QList<PlanError> errors;
        Plan plan = readPlan(file, &errors);
        const bool opens = std::any_of(plan.steps.cbegin(), plan.steps.cend(),
                                       [](const PlanStep &s) { return s.kind == PlanStep::Open; });
        if (errors.isEmpty() && !opens && args.options.port.isEmpty())
            errors.append({file, 0, QStringLiteral("no open step: give the port with --port")});
        for (const PlanError &e : errors) {
            std::fputs(qPrintable(e.text() + QLatin1Char('\n')), stderr);
            faults[file] << e.text();
        }
        faulty = faulty || !errors.isEmpty();
        plans.append(plan);
    }
    if (faulty) {
        reportFaults(args, faults);
        return std::nullopt;
    }
    return plans;
}

class Run : public QObject
{
public:
    Run(const Args &args, const QList<Plan> &plans) : m_args(args), m_plans(plans)
    {
        m_simulator = std::make_unique<SimulatedLine>(m_map);
        m_session = std::make_unique<BenchSession>(nullptr, m_map, m_view);
        m_session->load();
        // No loop runs here: the timer need not wake the program.
        m_session->timer().stop();
        connect(&m_signals, &ExitSignals::exitRequested, this, [this] {
            if (m_runner)
                m_runner->stop();
        });
    }

    // Starts the session log; false (said) when it cannot be written.
    bool startLog()
    {
        if (m_args.log.isEmpty())
            return true;
        // The file named is replaced: a link there is removed, never followed.
        if (QFileInfo(m_args.log).isSymLink() || QFileInfo(m_args.log).isFile())
            ::unlink(QFile::encodeName(m_args.log).constData());
        m_log = std::make_unique<SessionLog>(m_session->record().monitorPtr());
        if (m_log->start(m_args.log, m_session->lineMonitor().lastSeq() + 1))
            return true;
        usageError(m_log->error());
        return false;
    }

    int exec()
    {
        nextPlan();
        const int status = QCoreApplication::exec();
        if (status != 0)
            return status;
        closeLine();
        if (!writeJUnit())
            return m_status == 0 ? kFailed : m_status;
        return m_signals.exitStatus(m_status);
    }

private:
    void nextPlan()
    {
        if (m_next >= m_plans.size() || m_signals.received()) {
            QCoreApplication::exit(0);
            return;
        }
        const Plan &plan = m_plans[m_next++];
        say(QStringLiteral("== %1").arg(plan.fileName));
        m_suite = JUnitSuite();
        m_suite.name = QFileInfo(plan.fileName).completeBaseName();
        m_suite.timestamp = QDateTime::currentDateTime();
        m_runner = std::make_unique<PlanRunner>(*m_session, plan, m_args.options);
        connect(m_runner.get(), &PlanRunner::stepFinished, this, [this](const StepResult &r) { stepDone(r); });
        connect(m_runner.get(), &PlanRunner::finished, this, [this, &plan](const RunSummary &s) { planDone(plan, s); },
                Qt::QueuedConnection);
        m_runner->start();
    }

    void stepDone(const StepResult &r)
    {
        QString line = QStringLiteral("%1  %2  %3")
                           .arg(outcomeWord(r.outcome), QStringLiteral("%1 ms").arg(r.seconds * 1000, 9, 'f', 3),
                                r.name);
        if (r.outcome == StepResult::Failed)
            line += QLatin1Char('\n') + indented(r.verdict.details());
        else if (r.outcome == StepResult::Error)
            line += QLatin1Char('\n') + indented(r.message);
        else if (r.outcome == StepResult::NotRun)
            line += QStringLiteral("  (%1)").arg(r.message);
        say(line);
        if (!m_args.junit.isEmpty())
            m_suite.cases.append(junitCase(r, m_suite.name));
        if (m_log && !m_log->flush())
            usageError(m_log->error());
    }

    void planDone(const Plan &plan, const RunSummary &s)
    {
        say(plan.fileName + QStringLiteral(": ") + s.countsText(3) +
            (s.interrupted ? QStringLiteral(" (interrupted)") : QString()));
        if (s.sends.run() + s.queries.run() > 0)
            say(stepStats(s));
        m_suite.seconds = s.seconds;
        m_suites.append(m_suite);
        if (s.portRefused)
            m_status = kUsage;
        else if (!s.allPassed() && m_status == 0)
            m_status = kFailed;
        m_runner.release()->deleteLater();
        nextPlan();
    }

    // The port is released; the log ends with the line's closing.
    void closeLine()
    {
        if (m_session->port().PortOpen())
            m_session->port().PortOpen(false);
        if (m_log && !m_log->finish())
            usageError(m_log->error());
    }

    bool writeJUnit()
    {
        if (m_args.junit.isEmpty())
            return true;
        QBuffer xml;
        xml.open(QIODevice::WriteOnly);
        QString why;
        if (::writeJUnit(&xml, m_suites) && SafeFile::replace(m_args.junit, xml.data(), &why))
            return true;
        usageError(QStringLiteral("cannot write %1: %2").arg(m_args.junit, why));
        return false;
    }

    const Args &m_args;
    const QList<Plan> &m_plans;
    ComPortMap m_map;
    PlanView m_view;
    std::unique_ptr<SimulatedLine> m_simulator;
    std::unique_ptr<BenchSession> m_session;
    std::unique_ptr<SessionLog> m_log;
    std::unique_ptr<PlanRunner> m_runner;
    ExitSignals m_signals;
    JUnitSuite m_suite;
    QList<JUnitSuite> m_suites;
    qsizetype m_next = 0;
    int m_status = 0;
};
} // namespace

int main(int argc, char *argv[])
{
    // A reader of the output that goes away (orna-run | head) ends the
    // output, not the run: the report, the log and the port come first.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orna-run"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORNA_VERSION));
    int status = 0;
    const std::optional<Args> args = parseArgs(app, &status);
    if (!args)
        return status;
    const std::optional<QList<Plan>> plans = readPlans(*args);
    if (!plans)
        return kUsage;
    if (args->check) {
        for (const Plan &p : *plans)
            say(QStringLiteral("%1: %2 steps, no fault").arg(p.fileName).arg(p.steps.size()));
        return 0;
    }
    Run run(*args, *plans);
    if (!run.startLog())
        return kUsage;
    return run.exec();
}
