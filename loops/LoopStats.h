// SPDX-License-Identifier: MIT
#pragma once
// What a test loop learned about the converter: per loop, the exchanges run
// and how each ended, the Xon/Xoff hold-offs, the ticks that could not run,
// and the response times. Plain values without widgets; the window counts,
// its statistics window shows them, copies them as text and saves them as CSV.

#include "exchange/Exchange.h"

#include <QList>
#include <QString>

#include <array>
#include <vector>

// "ok", "timeout", "nak", "bad-data", "extra-after-eot", "line-lost",
// "overflow", "not-sent", "aborted"
QString outcomeKey(ExchangeOutcome outcome);
// The result as the session log's RESULT record says it:
// "query ok 12.345 ms", "send timeout", "query ok 20.101 ms holdoffs=1".
QString resultText(const char *action, const ExchangeResult &result);

// Response times in fixed buckets, each 1 % wider than the one before from
// 1 us up, so that the memory stays the same however many come; minimum
// and maximum exact, quantiles within 1 %.
class ResponseTimes
{
public:
    void add(qint64 ns);
    void reset();
    qint64 count() const { return m_count; }
    qint64 min() const { return m_min; }
    qint64 max() const { return m_max; }
    // The value below which the fraction p (0..1) of the times lie; 0 when empty.
    qint64 quantile(double p) const;

private:
    static int bucketOf(qint64 ns);
    static double bucketLow(int bucket);
    std::vector<qint64> m_buckets;
    qint64 m_count = 0;
    qint64 m_min = 0;
    qint64 m_max = 0;
};

inline constexpr int kOutcomeCount = int(ExchangeOutcome::Aborted) + 1;

struct LoopStats
{
    bool started = false;
    qint64 startedWallMs = 0;
    std::array<qint64, kOutcomeCount> byOutcome{};
    qint64 holdOffs = 0;
    qint64 skippedBusy = 0;   // ticks skipped: an exchange was still waiting
    qint64 skippedClosed = 0; // ticks skipped: the port was closed
    ResponseTimes times;

    // A loop starts: everything from zero.
    void reset(qint64 wallMs);
    // Counts one exchange; one that the ending program cut short counts nowhere.
    void add(const ExchangeResult &r);
    qint64 count(ExchangeOutcome o) const { return byOutcome[size_t(o)]; }
    qint64 run() const;
    qint64 succeeded() const { return count(ExchangeOutcome::Ok); }
    qint64 failed() const { return run() - succeeded(); }
};

// The statistics table: one row per measure, a column per loop.
struct StatsRow
{
    const char *key;   // the CSV's name of the measure, e.g. "timeout"
    const char *label; // what the window and the text copy show
    QString (*value)(const LoopStats &stats);
};
const QList<StatsRow> &statsRows();
// The table as aligned text, and as CSV ("measure,command_loop,query_loop").
// The text's columns are headed "Command Loop" and "Query Loop" unless told.
QString statsText(const LoopStats &command, const LoopStats &query, const QString &commandTitle = QString(),
                  const QString &queryTitle = QString());
QString statsCsv(const LoopStats &command, const LoopStats &query);
// "118 ok, 2 failed (1 timeout, 1 NAK)" for both loops together; empty before any exchange.
QString statsSummary(const LoopStats &command, const LoopStats &query);
