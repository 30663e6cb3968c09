// SPDX-License-Identifier: MIT
// Pacing study: 30000 polls on a silent pseudo-terminal opened with
// QSerialPort, each poll paced one way or another, with a small window shown.
// Tells what a poll's sleep costs on this machine apart from what the
// program does in it.
//
//   bench_pacing MODE [SLACK_NS] [MICROS]
//     sleep     ppoll() on the port's handle for MICROS, nothing else
//     events    the same, then processEvents()
//     poll      the same, then a read through QSerialPort: the program's poll
//     deadline  like poll, but each poll sleeps until a fixed grid of
//               MICROS-long periods (the wake-up delay is not added)
//   SLACK_NS is the thread's timer slack (1000 as the program sets it; 0
//   leaves the system's default of 50 us). MICROS defaults to 100.
// Prints key=value lines: wall time, processor share, processor time per poll.

#include "sim/server/PtyPair.h"
#include "BenchCommon.h"

#include <QApplication>
#include <QLabel>
#include <QSerialPort>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace bench;

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "poll";
    const long slack = argc > 2 ? std::atol(argv[2]) : 1000;
    const int micros = argc > 3 ? std::atoi(argv[3]) : 100;
    if (mode != "sleep" && mode != "events" && mode != "poll" && mode != "deadline") {
        std::fprintf(stderr, "usage: bench_pacing sleep|events|poll|deadline [SLACK_NS] [MICROS]\n");
        return 2;
    }

    QLabel window(QStringLiteral("pacing study"));
    window.show();
    QCoreApplication::processEvents();
    PtyPair pty = openPtyPair(0);
    QSerialPort port;
    port.setPortName(QString::fromStdString(pty.slavePath));
    port.setBaudRate(38400);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open the pseudo-terminal\n");
        return 2;
    }
    const int fd = int(port.handle());
    if (slack > 0)
        ::prctl(PR_SET_TIMERSLACK, (unsigned long)slack, 0, 0, 0);

    constexpr int polls = 30000;
    const long long period = micros * 1000LL;
    long long deadline = 0;
    qint64 bytes = 0;
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    for (int i = 0; i < polls; ++i) {
        pollfd p{fd, POLLIN, 0};
        timespec ts{0, long(period)};
        if (mode == "deadline") {
            // The next period boundary, but never more than one period away
            // and never a burst of catch-up polls after a long delay.
            const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      Clock::now().time_since_epoch()).count();
            deadline = deadline + period > now + period || deadline + period < now - period ? now + period
                                                                                          : deadline + period;
            const long long rest = std::max(0LL, deadline - now);
            ts = {time_t(rest / 1000000000LL), long(rest % 1000000000LL)};
        }
        ::ppoll(&p, 1, &ts, nullptr);
        if (mode == "sleep")
            continue;
        QCoreApplication::processEvents();
        if (mode == "events")
            continue;
        bytes += port.readAll().size();
    }
    const double wall = seconds(Clock::now() - t0);
    const double cpu = cpuSeconds() - c0;
    std::printf("mode=%s\nslack_ns=%ld\nmicros=%d\nwall_s=%.3f\ncpu_pct=%.1f\ncpu_per_poll_us=%.1f\nperiod_us=%.1f\n",
                mode.c_str(), slack, micros, wall, 100 * cpu / wall, cpu / polls * 1e6, wall / polls * 1e6);
    port.close();
    pty.close();
    return int(bytes != 0);
}
