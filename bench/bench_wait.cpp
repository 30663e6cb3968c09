// SPDX-License-Identifier: MIT
// Reply wait figures on a pseudo-terminal, through the real window and the
// real serial code:
//  (a) a 30000-poll wait with no answer (and a 10000-poll prompt wait):
//      wall time, and processor time as a share of it, paced and unpaced;
//  (b) the time from the far end's last reply byte to the end of an SCPI
//      query exchange, split in two: the byte to the read that took it
//      (the wait's wake-up), and that read to the end of the exchange
//      (judging, the transcript, painting).
//  (c) the floor of pacing on this machine: the same number of bare 100 us
//      sleeps on the port's handle, with no event processing and no read.
// The window is shown (on the platform QT_QPA_PLATFORM names: offscreen by
// default, xcb on a display), as a person has it.
// Prints key=value lines. Usage: bench_wait [iterations]

#include "BenchCommon.h"
#include "PtyResponder.h"

#include "app/frmMain.h"
#include "app/UiSeams.h"
#include "serial/ComPortMap.h"
#include "serial/PortObject.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"
#include "serial/frmPorts.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {
using namespace bench;

struct WaitFigure
{
    double wall = 0, cpuShare = 0;
    qint64 polls = 0;
};

// The real port, noting when a read last brought bytes.
class TimedPort : public QtSerialPortObject
{
public:
    QByteArray Input() override
    {
        QByteArray data = QtSerialPortObject::Input();
        if (!data.isEmpty())
            lastRead = Clock::now();
        return data;
    }
    Clock::time_point lastRead;
};

// Sends text to a peer that never answers, a few times; medians.
WaitFigure silentWait(frmMain &w, const char *text, int pacing, int runs)
{
    w.pollPacingMicros = pacing;
    std::vector<double> walls, shares;
    for (int i = 0; i < runs; ++i) {
        w.combCmd->setEditText(QString::fromLatin1(text));
        const double c0 = cpuSeconds();
        const auto t0 = Clock::now();
        w.cmdSend_Click();
        const double wall = seconds(Clock::now() - t0);
        walls.push_back(wall);
        shares.push_back((cpuSeconds() - c0) / wall);
    }
    return {median(walls), median(shares), 0};
}

// 30000 sleeps of 100 us in ppoll() on a silent pseudo-terminal, with the
// timer slack the port object uses: what the sleeping alone costs here.
WaitFigure bareSleeps(const std::string &path, int runs)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    std::vector<double> walls, shares;
    for (int i = 0; i < runs; ++i) {
        const double c0 = cpuSeconds();
        const auto t0 = Clock::now();
        for (int k = 0; k < 30000; ++k) {
            pollfd p{fd, POLLIN, 0};
            timespec ts{0, 100000};
            ::ppoll(&p, 1, &ts, nullptr);
        }
        const double wall = seconds(Clock::now() - t0);
        walls.push_back(wall);
        shares.push_back((cpuSeconds() - c0) / wall);
    }
    ::close(fd);
    return {median(walls), median(shares), 0};
}
} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;

    // (a) no answer at all.
    WaitFigure paced30k, paced10k, bare30k, sleeps30k;
    {
        PtyResponder silent('\n', [](const std::string &) { return std::string(); });
        QuietSeams seams;
        frmMain w(nullptr, &seams);
        w.portMap().setDevice(1, QString::fromStdString(silent.slavePath()));
        w.show();
        w.Timer1->stop();
        w.cmdInit_Click();
        if (!w.MSComm1->PortOpen()) {
            fprintf(stderr, "cannot open %s\n", silent.slavePath().c_str());
            return 1;
        }
        paced30k = silentWait(w, "*idn?", 100, 3);
        paced10k = silentWait(w, "*cls", 100, 3);
        bare30k = silentWait(w, "*idn?", 0, 3);
        w.MSComm1->PortOpen(false);
        sleeps30k = bareSleeps(silent.slavePath(), 3);
    }

    // (b) answered queries: last reply byte to the end of the exchange.
    std::vector<double> latencies, wakes, afterWakes, exchanges;
    {
        PtyResponder peer('\n', [](const std::string &) { return std::string("Vek,Orna simulator,0,1.0\n>"); });
        QuietSeams seams;
        auto *port = new TimedPort; // owned by the window
        frmMain w(port, &seams);
        w.portMap().setDevice(1, QString::fromStdString(peer.slavePath()));
        w.show();
        w.Timer1->stop();
        w.cmdInit_Click();
        for (int i = 0; i < iterations; ++i) {
            w.combCmd->setEditText(QStringLiteral("*idn?"));
            const auto t0 = Clock::now();
            w.cmdSend_Click();
            const auto t1 = Clock::now();
            if (w.Rdg != "Vek,Orna simulator,0,1.0") {
                fprintf(stderr, "exchange %d failed: %s\n", i, qPrintable(w.errorText()));
                return 1;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(t1 - peer.lastReplyEnd()).count());
            wakes.push_back(std::chrono::duration<double, std::milli>(port->lastRead - peer.lastReplyEnd()).count());
            afterWakes.push_back(std::chrono::duration<double, std::milli>(t1 - port->lastRead).count());
            exchanges.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        w.MSComm1->PortOpen(false);
    }

    printf("wait30k_s=%.3f\nwait30k_cpu_pct=%.1f\n", paced30k.wall, paced30k.cpuShare * 100);
    printf("wait10k_s=%.3f\nwait10k_cpu_pct=%.1f\n", paced10k.wall, paced10k.cpuShare * 100);
    printf("unpaced30k_s=%.3f\nunpaced30k_cpu_pct=%.1f\n", bare30k.wall, bare30k.cpuShare * 100);
    printf("sleeps30k_s=%.3f\nsleeps30k_cpu_pct=%.1f\n", sleeps30k.wall, sleeps30k.cpuShare * 100);
    printf("latency_median_ms=%.3f\nlatency_p90_ms=%.3f\nscpi_exchange_median_ms=%.3f\niterations=%d\n",
           median(latencies), percentile(latencies, 0.9), median(exchanges), iterations);
    printf("wake_median_ms=%.3f\nwake_p90_ms=%.3f\nread_to_end_median_ms=%.3f\n", median(wakes),
           percentile(wakes, 0.9), median(afterWakes));
    return 0;
}
