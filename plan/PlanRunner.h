// SPDX-License-Identifier: MIT
#pragma once
// Runs a plan on a bench session: each step is the operation a user would
// start (the same code, so the same bytes on the line and the same texts on
// the screen), judged by the transcript lines and the error it produced.
// The steps go one after another from the event loop, so a window stays
// responsive between them; the run holds the line from its first step to
// its last, so the user's clicks and the loops' ticks are refused or
// skipped meanwhile, as during any exchange.
//
// Between two steps the line is given time to fall quiet, as it does at a
// person's pace: a prompt that trails an SCPI reply (or comes late after a
// language switch) is read and dropped then, not taken for the next step's
// answer. Where SCPI was spoken the quiet must last kQuietMs (or four
// characters' time on a slow line); in X3.28 and Xon/Xoff, whose exchanges
// end with their last byte, two characters' time. At most kSettleMaxMs.
//
// A port that will not open ends the run (the rest not run), and so does a
// line lost during a step, or stop().

#include "exchange/Exchange.h"
#include "loops/LoopStats.h"
#include "plan/Expect.h"
#include "plan/Plan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class BenchSession;

// One step as it ran, or as it was not run.
struct StepResult
{
    enum Outcome { Passed, Failed, Error, NotRun };
    Outcome outcome = NotRun;
    QString id;   // "line 12", "line 12 #3"
    QString name; // "line 12 #3: send SP1 100"
    int line = 0;
    double seconds = 0;
    StepVerdict verdict; // Failed: what was expected and what came
    QString message;     // Error and NotRun: why
};

struct RunSummary
{
    int passed = 0;
    int failed = 0;
    int errors = 0;
    int notRun = 0;
    bool portRefused = false; // an open step's port would not open before any port had opened: nothing sent
    bool lineLost = false;
    bool interrupted = false; // stop() or the program's end
    bool refused = false;     // the line was busy: nothing ran
    double seconds = 0;
    // The send and query steps by outcome, with their response times.
    LoopStats sends;
    LoopStats queries;

    bool allPassed() const { return failed == 0 && errors == 0 && notRun == 0 && !refused; }
    // "3 passed, 1 failed, 0 errors, 0 not run, in 2.50 s", the seconds with
    // `decimals` places.
    QString countsText(int decimals) const
    {
        return QStringLiteral("%1 passed, %2 failed, %3 errors, %4 not run, in %5 s")
            .arg(passed)
            .arg(failed)
            .arg(errors)
            .arg(notRun)
            .arg(seconds, 0, 'f', decimals);
    }
};

class PlanRunner : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString port;        // replaces the port of every open step; a plan without one opens it first
        int baud = 0;        // replaces the rate of every open step (0: as written)
        QString format;      // replaces the format of every open step ("8N1", "7E1", "7O1"; empty: as written)
        int repeat = 1;      // the whole plan this many times
        bool stopOnFailure = false;
    };

    static constexpr int kQuietMs = 20;
    static constexpr int kSettleMaxMs = 500;

    PlanRunner(BenchSession &session, const Plan &plan, const Options &options, QObject *parent = nullptr);
    ~PlanRunner() override;

    // Starts the run; the steps follow from the event loop. False (and
    // finished() with `refused`) when another operation holds the line.
    bool start();
    // Ends the run after the step in progress; the rest is not run.
    void stop();
    bool running() const { return m_running; }
    const RunSummary &summary() const { return m_summary; }

signals:
    void stepStarted(const StepResult &step);
    void stepFinished(const StepResult &step);
    void finished(const RunSummary &summary);

private:
    void next();
    void runStep(const PlanItem &item);
    // The step's own operation; false when the run must end after it.
    bool perform(const PlanStep &step, StepResult &result);
    bool open(const PlanStep &step, StepResult &result);
    void judge(const PlanStep &step, quint64 fromSeq, StepResult &result);
    void finishStep(StepResult &result);
    void resume();
    void settle(bool scpi);
    void settleTick();
    void finishRun();
    void reportNotRun(const QString &why);

    BenchSession &m_session;
    Plan m_plan;
    Options m_options;
    std::optional<PlanCursor> m_cursor;
    QTimer m_pace;  // the next step
    QTimer m_pause; // the end of a pause step
    QTimer m_settle; // looks whether the line has fallen quiet
    QElapsedTimer m_quietFor;
    QElapsedTimer m_settling;
    quint64 m_seenSeq = 0;
    int m_quietMs = kQuietMs;
    QByteArray m_stepMode; // the language when the step began
    std::function<void()> m_resume;
    QElapsedTimer m_clock;
    RunSummary m_summary;
    bool m_running = false;
    bool m_stopAsked = false;
    bool m_opened = false; // a port opened in this run
    QString m_endWhy; // why the rest is not run
};
