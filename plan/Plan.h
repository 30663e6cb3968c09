// SPDX-License-Identifier: MIT
#pragma once
// A plan: the operations of a bench session written as text, one step a
// line, with what each step is expected to produce. The format is described
// in docs/plans.md. This is the model, its parser and the walk in run order;
// running it belongs to whoever drives the bench.

#include "plan/Expect.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

struct PlanStep
{
    enum Kind {
        Open,    // open PORT [BAUD] [FORMAT]
        Send,    // send TEXT: the device command box and Send
        Query,   // query TEXT: the query box and Send Query
        Address, // address TEXT: the address box and Set Address and Open Link
        Scpi,    // scpi, disconnect, xonxoff: the three mode buttons
        Disconnect,
        XonXoff,
        Nak, // nak on|off, count on|off: the two check boxes
        Count,
        LoadTable, // load-table ezzone|f4: Load Examples answered Yes (EZ-Zone) or No (F4)
        ReadTable, // read-table
        Pause,     // pause MS
        Repeat,    // repeat N ... end (never yielded by the walk)
        End
    };
    Kind kind = Send;
    int line = 0;   // in the plan file, from 1
    QString source; // the line as written, without its outer blanks: the step's name

    QByteArray text;        // send, query, address; empty: the box left empty
    QString port;           // open: "COM1" to "COM6", a device path, or "simulator"
    int baud = 9600;        // open
    QString format = "8N1"; // open: "8N1", "7E1" or "7O1"
    bool on = false;        // nak, count
    bool ezZone = false;    // load-table: true for ezzone, false for f4
    int number = 0;         // pause: milliseconds; repeat: how many times
    int partner = -1;       // repeat: index of its end; end: index of its repeat
    QList<Expectation> expectations;

    static QString keyword(Kind kind);
    // open: the settings text the port dialog composes, "9600,N,8,1".
    QString settings() const;
    // open: 1 to 6 for COM1 to COM6, otherwise 0.
    int comNumber() const;
};

struct PlanError
{
    QString file;
    int line = 0; // 0: the file as a whole
    QString message;

    // "plan.txt:12: unknown step 'sendd'", or "plan.txt: cannot read: ..."
    QString text() const;
};

struct Plan
{
    QString fileName; // as given to readPlan or parsePlan
    QList<PlanStep> steps;
};

// Parses plan text. Every fault of every line goes to errors, in line order;
// the plan is fit to run only when there is none.
Plan parsePlan(const QByteArray &text, const QString &fileName, QList<PlanError> *errors);
// Reads and parses a plan file; a file that cannot be read is one error.
Plan readPlan(const QString &path, QList<PlanError> *errors);

// A step's text with its escapes resolved: \xHH is the byte HH, \\ a
// backslash; every other character is one byte (Latin-1). Nothing, with
// *error set, for a bad escape or a character that is not one byte.
std::optional<QByteArray> decodeText(QStringView text, QString *error);

// One step as the run meets it: the step and, for each enclosing repeat
// from the outermost, which time round it is (from 1).
struct PlanItem
{
    const PlanStep *step = nullptr;
    QList<int> iterations;

    // Stable between runs of the same plan: "line 12", or "line 12 #2.3"
    // for the 3rd time round an inner repeat in the 2nd of an outer one.
    QString id() const;
    // "line 12 #3: send SP1 100", the name a CI server tracks.
    QString name() const;
};

// Walks a parsed, faultless plan in run order, repeats unrolled, keeping
// only the repeats it is inside (a plan of a million steps costs nothing).
class PlanCursor
{
public:
    explicit PlanCursor(const Plan &plan) : m_plan(plan) {}
    // The next step to run, or nothing at the end.
    std::optional<PlanItem> next();

private:
    struct Level
    {
        int repeat; // index of the repeat step
        int iteration;
    };
    const Plan &m_plan;
    int m_pos = 0;
    QList<Level> m_levels;
};

// Every step in run order.
QList<PlanItem> flattenPlan(const Plan &plan);
