// SPDX-License-Identifier: MIT
// Start-up time and resident memory of the program as app/main.cpp starts
// it (application object, simulated line, main window, show), offscreen.
//
//   bench_startup
//
// Takes the time, then executes itself again, so the figures count from the
// exec of a fresh process: loading the program and its libraries, main(),
// and the window up to its first paint. Prints key=value lines (ms from the
// exec, and VmRSS with the window shown).

#include "BenchCommon.h"

#include "app/frmMain.h"
#include "sim/SimulatedLine.h"

#include <QApplication>
#include <QEvent>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

using namespace bench;

namespace {

long long monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

double msSince(long long t0)
{
    return double(monotonicNs() - t0) / 1e6;
}

// Notes the first paint that reaches the window or any of its controls.
class FirstPaint : public QObject
{
public:
    long long at = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && at == 0)
            at = monotonicNs();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3 || std::strcmp(argv[1], "--from") != 0) {
        const std::string t0 = std::to_string(monotonicNs());
        ::execl("/proc/self/exe", argv[0], "--from", t0.c_str(), (char *)nullptr);
        std::perror("exec");
        return 2;
    }
    const long long t0 = std::atoll(argv[2]);
    const double atMain = msSince(t0);
    useOffscreenPlatform();

    QApplication app(argc, argv);
    const double atApp = msSince(t0);
    FirstPaint paint;
    app.installEventFilter(&paint);
    frmMain w;
    SimulatedLine simulator(w.portMap());
    const double atWindow = msSince(t0);
    w.show();
    const double atShow = msSince(t0);
    while (paint.at == 0 && msSince(t0) < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const double atPaint = double(paint.at - t0) / 1e6;
    QCoreApplication::processEvents();
    std::printf("main_ms=%.2f\napp_ms=%.2f\nwindow_ms=%.2f\nshow_ms=%.2f\npaint_ms=%.2f\nrss_kib=%lld\n", atMain, atApp,
                atWindow, atShow, atPaint, residentKiB());
    return 0;
}
