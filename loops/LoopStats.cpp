// SPDX-License-Identifier: MIT
#include "loops/LoopStats.h"

#include "serial/LineMonitor.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kGrowth = 1.01;    // each bucket 1 % wider than the one before
constexpr double kFirstNs = 1000.0; // bucket 0: below 1 us
constexpr int kBuckets = 2200;      // up to about 9 hours

QString ms(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 3);
}

const char *const kOutcomeKeys[kOutcomeCount] = {"ok",        "timeout",  "nak",      "bad-data", "extra-after-eot",
                                                 "line-lost", "overflow", "not-sent", "aborted"};
} // namespace

QString outcomeKey(ExchangeOutcome outcome)
{
    return QLatin1String(kOutcomeKeys[int(outcome)]);
}

QString resultText(const char *action, const ExchangeResult &result)
{
    QString text = QLatin1String(action) + QLatin1Char(' ') + outcomeKey(result.outcome);
    if (result.responseNs >= 0)
        text += QLatin1Char(' ') + ms(result.responseNs) + QStringLiteral(" ms");
    if (result.holdOffs > 0)
        text += QStringLiteral(" holdoffs=%1").arg(result.holdOffs);
    return text;
}

int ResponseTimes::bucketOf(qint64 ns)
{
    if (double(ns) < kFirstNs)
        return 0;
    const int b = 1 + int(std::floor(std::log(double(ns) / kFirstNs) / std::log(kGrowth)));
    return std::min(b, kBuckets - 1);
}

double ResponseTimes::bucketLow(int bucket)
{
    return bucket == 0 ? 0.0 : kFirstNs * std::pow(kGrowth, bucket - 1);
}

void ResponseTimes::add(qint64 ns)
{
    ns = std::max<qint64>(ns, 0);
    if (m_buckets.empty())
        m_buckets.assign(kBuckets, 0);
    ++m_buckets[size_t(bucketOf(ns))];
    m_min = m_count == 0 ? ns : std::min(m_min, ns);
    m_max = m_count == 0 ? ns : std::max(m_max, ns);
    ++m_count;
}

void ResponseTimes::reset()
{
    m_buckets.clear();
    m_count = m_min = m_max = 0;
}

qint64 ResponseTimes::quantile(double p) const
{
    if (m_count == 0)
        return 0;
    const qint64 rank = std::clamp<qint64>(qint64(std::ceil(p * double(m_count))), 1, m_count);
    qint64 seen = 0;
    for (int b = 0; b < kBuckets; ++b) {
        seen += m_buckets[size_t(b)];
        if (seen >= rank) {
            // The middle of the bucket, on its own (logarithmic) scale.
            const double mid = b == 0 ? kFirstNs / 2 : bucketLow(b) * std::sqrt(kGrowth);
            return std::clamp(qint64(std::llround(mid)), m_min, m_max);
        }
    }
    return m_max;
}

void LoopStats::reset(qint64 wallMs)
{
    *this = LoopStats();
    started = true;
    startedWallMs = wallMs;
}

void LoopStats::add(const ExchangeResult &r)
{
    if (r.outcome == ExchangeOutcome::Aborted)
        return;
    ++byOutcome[size_t(r.outcome)];
    holdOffs += r.holdOffs;
    if (r.responseNs >= 0)
        times.add(r.responseNs);
}

qint64 LoopStats::run() const
{
    qint64 n = 0;
    for (int o = 0; o < kOutcomeCount; ++o)
        if (ExchangeOutcome(o) != ExchangeOutcome::Aborted)
            n += byOutcome[size_t(o)];
    return n;
}

namespace {
QString n(qint64 v)
{
    return QString::number(v);
}
template <ExchangeOutcome O>
QString outcomeCount(const LoopStats &s)
{
    return n(s.count(O));
}
QString time(const LoopStats &s, qint64 ns)
{
    return s.times.count() ? ms(ns) : QStringLiteral("-");
}
} // namespace

const QList<StatsRow> &statsRows()
{
    using O = ExchangeOutcome;
    using S = const LoopStats &;
    static const QList<StatsRow> rows{
        {"started", "Started", [](S s) { return s.started ? LineMonitor::wallText(s.startedWallMs) : QStringLiteral("-"); }},
        {"run", "Exchanges run", [](S s) { return n(s.run()); }},
        {"ok", "Succeeded", [](S s) { return n(s.succeeded()); }},
        {"failed", "Failed", [](S s) { return n(s.failed()); }},
        {"timeout", "  timeout", outcomeCount<O::Timeout>},
        {"nak", "  NAK", outcomeCount<O::Nak>},
        {"bad_data", "  bad data block", outcomeCount<O::BadData>},
        {"extra_after_eot", "  extra bytes after EOT", outcomeCount<O::ExtraBytes>},
        {"line_lost", "  line lost", outcomeCount<O::LineLost>},
        {"overflow", "  receive overflow", outcomeCount<O::Overflow>},
        {"not_sent", "  not sent", outcomeCount<O::NotSent>},
        {"holdoffs", "Xon/Xoff hold-offs", [](S s) { return n(s.holdOffs); }},
        {"skipped_busy", "Ticks skipped, line busy", [](S s) { return n(s.skippedBusy); }},
        {"skipped_closed", "Ticks skipped, port closed", [](S s) { return n(s.skippedClosed); }},
        {"response_count", "Response times taken", [](S s) { return n(s.times.count()); }},
        {"response_min_ms", "Response min (ms)", [](S s) { return time(s, s.times.min()); }},
        {"response_median_ms", "Response median (ms)", [](S s) { return time(s, s.times.quantile(0.5)); }},
        {"response_p99_ms", "Response p99 (ms)", [](S s) { return time(s, s.times.quantile(0.99)); }},
        {"response_max_ms", "Response max (ms)", [](S s) { return time(s, s.times.max()); }},
    };
    return rows;
}

QString statsText(const LoopStats &command, const LoopStats &query, const QString &commandTitle,
                  const QString &queryTitle)
{
    const QList<StatsRow> &rows = statsRows();
    int width = 0;
    for (const StatsRow &r : rows)
        width = std::max(width, int(qstrlen(r.label)));
    QString text = QStringLiteral("%1  %2  %3\n")
                       .arg(QString(), -width)
                       .arg(commandTitle.isEmpty() ? QStringLiteral("Command Loop") : commandTitle, 23)
                       .arg(queryTitle.isEmpty() ? QStringLiteral("Query Loop") : queryTitle, 23);
    for (int i = 0; i < rows.size(); ++i)
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(QLatin1String(rows[i].label), -width)
                    .arg(statsRows()[i].value(command), 23)
                    .arg(statsRows()[i].value(query), 23);
    return text;
}

QString statsCsv(const LoopStats &command, const LoopStats &query)
{
    QString text = QStringLiteral("measure,command_loop,query_loop\n");
    for (const auto &row : statsRows())
        text += QLatin1String(row.key) + QLatin1Char(',') + row.value(command) + QLatin1Char(',') + row.value(query) +
                QLatin1Char('\n');
    return text;
}

QString statsSummary(const LoopStats &command, const LoopStats &query)
{
    const qint64 run = command.run() + query.run();
    if (run == 0)
        return {};
    QString text = QStringLiteral("%1 ok, %2 failed").arg(command.succeeded() + query.succeeded())
                       .arg(command.failed() + query.failed());
    QStringList kinds;
    for (int o = int(ExchangeOutcome::Timeout); o < int(ExchangeOutcome::Aborted); ++o) {
        const qint64 k = command.byOutcome[size_t(o)] + query.byOutcome[size_t(o)];
        if (k > 0)
            kinds << QStringLiteral("%1 %2").arg(k).arg(outcomeKey(ExchangeOutcome(o)));
    }
    if (!kinds.isEmpty())
        text += QStringLiteral(" (") + kinds.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}
