// SPDX-License-Identifier: MIT
// Both loops at 100 ms through the real window and serial layer (38400 baud
// 8N1) against whatever serves DEVICE (orna-sim in run.sh and soak.sh), in
// X3.28 mode: each tick a selection (command loop) and a poll (query loop).
//
//   bench_loops DEVICE SECONDS [--rss-every S] [--warmup S]
//
// Prints key=value lines: the ticks the timer delivered (every timer event
// of Timer1, served or skipped), their mean, median and extreme period, the
// ticks skipped (frmMain::skippedTicks), the ticks the timer never delivered
// because a tick was still running, the ticks served, the loop count, whether
// the count equals the ticks served, the failures reported (beeps), and with
// --rss-every the resident memory sampled during the run: at the end of the
// warm-up, at the end, and at its highest after the warm-up.

#include "BenchCommon.h"

#include "app/frmMain.h"
#include "serial/PortObject.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QRadioButton>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

using namespace bench;

namespace {

// Notes the moment each timer event reaches Timer1, before its handler runs.
class TickRecorder : public QObject
{
public:
    std::vector<Clock::time_point> ticks;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            ticks.push_back(Clock::now());
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_loops DEVICE SECONDS [--rss-every S] [--warmup S]\n");
        return 2;
    }
    const double runSeconds = std::atof(argv[2]);
    double rssEvery = 0, warmup = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rss-every") == 0)
            rssEvery = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--warmup") == 0)
            warmup = std::atof(argv[i + 1]);
    }

    QuietSeams seams;
    frmMain w(nullptr, &seams);
    w.show();
    if (!openLine(w, QString::fromLocal8Bit(argv[1])))
        return 2;
    w.MSComm1->Output("@@@");
    settle(w, 50);
    if (!enterX328(w, 20))
        return 1;
    w.combCmd->setEditText(QStringLiteral("SP1 75.0"));
    w.combQuery->setEditText(QStringLiteral("C1"));
    w.optTime[0]->setChecked(true);
    w.optTime_Click(0);
    w.cmdCmdtst_Click();
    w.cmdQtst_Click();

    TickRecorder recorder;
    w.Timer1->installEventFilter(&recorder);
    const qint64 skippedBefore = w.skippedTicks();
    const long long beepsBefore = seams.beeps;
    const auto start = Clock::now();

    // Resident memory, sampled on a timer of its own (also during waits).
    long long rssWarm = 0, rssMax = 0, rssLast = 0;
    QTimer sampler;
    if (rssEvery > 0) {
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const long long rss = residentKiB();
            rssLast = rss;
            if (seconds(Clock::now() - start) <= warmup || rssWarm == 0) {
                rssWarm = rss;
                rssMax = rss;
            } else if (rss > rssMax) {
                rssMax = rss;
            }
        });
        sampler.start(int(rssEvery * 1000));
    }
    // At the end, wait for the tick in progress (if any) to finish, then take
    // the figures and leave the event loop without closing the window (the
    // window's own close path would send the exit message and close the port).
    qint64 count = 0, skipped = 0;
    bool portOpen = false;
    std::vector<Clock::time_point> t;
    std::function<void()> finish = [&] {
        if (w.Busy()) {
            QTimer::singleShot(1, &app, finish);
            return;
        }
        count = w.LpCount;
        skipped = w.skippedTicks() - skippedBefore;
        portOpen = w.MSComm1->PortOpen();
        t = recorder.ticks;
        if (rssEvery > 0)
            rssLast = residentKiB();
        QCoreApplication::exit(0);
    };
    QTimer::singleShot(int(runSeconds * 1000), &app, finish);
    app.exec();
    w.Timer1->removeEventFilter(&recorder);
    w.cmdCmdtstoff_Click();
    w.cmdQtstOff_Click();
    if (portOpen)
        leaveX328(w);

    std::vector<double> periods;
    for (size_t i = 1; i < t.size(); ++i)
        periods.push_back(seconds(t[i] - t[i - 1]) * 1000);
    const double mean = t.size() > 1 ? seconds(t.back() - t.front()) * 1000 / double(t.size() - 1) : 0;
    double var = 0;
    for (double p : periods)
        var += (p - mean) * (p - mean);
    const qint64 ticks = qint64(t.size());
    // Qt does not deliver a timer's event again while its handler still runs
    // (the waits of a long tick process events): such ticks never arrive and
    // are neither served nor skipped. A gap of k periods lost k - 1 of them.
    qint64 missed = 0;
    for (double p : periods)
        missed += std::max<qint64>(0, std::llround(p / 100.0) - 1);
    const qint64 served = ticks - skipped;
    std::printf("seconds=%.1f\nticks=%lld\nperiod_mean_ms=%.3f\nperiod_median_ms=%.3f\nperiod_min_ms=%.3f\n"
                "period_max_ms=%.3f\nperiod_stddev_ms=%.3f\nskipped=%lld\nnot_delivered=%lld\nserved=%lld\ncount=%lld\n"
                "count_equals_served=%d\nfailures_reported=%lld\nport_open_at_end=%d\n",
                seconds(Clock::now() - start), (long long)ticks, mean, median(periods),
                periods.empty() ? 0 : percentile(periods, 0), periods.empty() ? 0 : percentile(periods, 1.0),
                periods.size() > 1 ? std::sqrt(var / double(periods.size() - 1)) : 0, (long long)skipped, (long long)missed,
                (long long)served, (long long)count, count == served ? 1 : 0, seams.beeps - beepsBefore,
                portOpen ? 1 : 0);
    if (rssEvery > 0)
        std::printf("rss_warm_kib=%lld\nrss_end_kib=%lld\nrss_max_after_warmup_kib=%lld\n", rssWarm, rssLast,
                    std::max(rssMax, rssLast));
    w.MSComm1->PortOpen(false);
    return 0;
}
