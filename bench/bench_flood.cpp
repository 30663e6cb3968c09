// SPDX-License-Identifier: MIT
// Both loops at 100 ms through the real window and serial layer in Xon/Xoff
// mode against a far end that answers every line with an unterminated flood
// (64 KiB and a little more, so every wait ends as a receive overflow), with
// the line monitor hidden or shown. The monitor must not slow the loops: its
// table takes in new records on a time bound, whatever their size.
//
//   bench_flood SECONDS [--monitor] [--flood BYTES]
//
// Prints key=value lines: the seconds run, the ticks served (the loop count)
// and the ticks served a second, the monitor's refreshes, and the processor
// time of the whole process.

#include "BenchCommon.h"
#include "PtyResponder.h"

#include "app/LineMonitorView.h"
#include "app/frmMain.h"
#include "serial/PortObject.h"

#include <QApplication>
#include <QComboBox>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace bench;

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_flood SECONDS [--monitor] [--flood BYTES]\n");
        return 2;
    }
    const double runSeconds = std::atof(argv[1]);
    bool monitor = false;
    long flood = 64 * 1024 + 512;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--monitor") == 0)
            monitor = true;
        else if (std::strcmp(argv[i], "--flood") == 0 && i + 1 < argc)
            flood = std::atol(argv[++i]);
    }
    // Bytes without XON, XOFF or CR: no Xon/Xoff wait finds its terminator.
    const std::string reply(size_t(flood), 'x');
    PtyResponder far('\r', [&](const std::string &) { return reply; });

    QuietSeams seams;
    frmMain w(nullptr, &seams);
    w.show();
    if (!openLine(w, QString::fromStdString(far.slavePath())))
        return 2;
    w.cmdXonXoff_Click();
    if (monitor)
        w.actMonitor->trigger();
    w.combCmd->setEditText(QStringLiteral("SP1 75"));
    w.combQuery->setEditText(QStringLiteral("C1"));
    w.optTime[0]->setChecked(true);
    w.optTime_Click(0);
    w.cmdCmdtst_Click();
    w.cmdQtst_Click();

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    qint64 count = 0;
    std::function<void()> finish = [&] {
        if (w.Busy()) {
            QTimer::singleShot(1, &app, finish);
            return;
        }
        count = w.LpCount;
        QCoreApplication::exit(0);
    };
    QTimer::singleShot(int(runSeconds * 1000), &app, finish);
    app.exec();
    const double took = seconds(Clock::now() - start);
    w.cmdCmdtstoff_Click();
    w.cmdQtstOff_Click();
    std::printf("seconds=%.1f\nmonitor_shown=%d\nflood_bytes=%ld\nticks_served=%lld\nticks_per_second=%.2f\n"
                "monitor_refreshes=%lld\ncpu_share=%.3f\n",
                took, monitor ? 1 : 0, flood, (long long)count, double(count) / took,
                (long long)w.monitorView->refreshes(), (cpuSeconds() - cpuBefore) / took);
    w.MSComm1->PortOpen(false);
    return 0;
}
