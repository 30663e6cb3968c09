// SPDX-License-Identifier: MIT
// The idle line: the real window and serial layer with the line open and no
// exchange running, while the far end (a pseudo-terminal served from a
// thread of this program) sends bytes nobody asked for; every so often an
// SCPI exchange runs, as an operator's would, and its input drain drops what
// came meanwhile. Shows what those bytes cost in memory.
//
//   bench_idle trickle|stream SECONDS [--rss-every S] [--warmup S] [--exchange-every S]
//
//   trickle  one byte every 10 ms (100 bytes a second): line noise, a wrong
//            baud rate, a chatty device
//   stream   as fast as the line takes them
//
// Prints key=value lines: the bytes the far end sent, the exchanges run and
// how many got their answer, and the resident memory: "rss t=S kib=N" at
// every sample, then at the end of the warm-up, at the end, and at its
// highest after the warm-up.

#include "BenchCommon.h"

#include "app/frmMain.h"
#include "serial/PortObject.h"
#include "sim/server/PtyPair.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

// The far end: sends unasked bytes as the mode says and answers every line
// the program writes ("*idn?" and LF) with an identification and a prompt.
class FarEnd
{
public:
    explicit FarEnd(bool stream) : m_stream(stream), m_pty(openPtyPair(O_NONBLOCK | O_CLOEXEC))
    {
        if (m_pty.ok())
            m_thread = std::thread([this] { run(); });
    }
    ~FarEnd()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        m_pty.close();
    }
    bool ok() const { return m_pty.ok(); }
    QString device() const { return QString::fromStdString(m_pty.slavePath); }
    long long sent() const { return m_sent.load(); }

private:
    void run()
    {
        std::string line;
        const std::string chunk(4096, 'x');
        auto next = Clock::now();
        while (!m_stop) {
            // What the program wrote: answer each line.
            char buf[512];
            ssize_t n;
            while ((n = ::read(m_pty.master, buf, sizeof buf)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (buf[i] != '\n') {
                        line += buf[i];
                        continue;
                    }
                    const std::string reply = "Vek,Idle bench,0,1\n>";
                    writeAll(reply);
                    line.clear();
                }
            }
            if (m_stream) {
                const ssize_t w = ::write(m_pty.master, chunk.data(), chunk.size());
                if (w > 0)
                    m_sent += w;
                else
                    waitWritable(5);
                continue;
            }
            const auto now = Clock::now();
            if (now >= next) {
                if (::write(m_pty.master, "x", 1) == 1)
                    ++m_sent;
                next += std::chrono::milliseconds(10);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void writeAll(const std::string &bytes)
    {
        size_t done = 0;
        for (int tries = 0; done < bytes.size() && tries < 1000; ++tries) {
            const ssize_t w = ::write(m_pty.master, bytes.data() + done, bytes.size() - done);
            if (w > 0)
                done += size_t(w);
            else
                waitWritable(5);
        }
    }
    void waitWritable(int ms)
    {
        pollfd p{m_pty.master, POLLOUT | POLLIN, 0};
        ::poll(&p, 1, ms);
    }

    bool m_stream;
    PtyPair m_pty;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_sent{0};
    std::thread m_thread;
};

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    if (argc < 3 || (std::strcmp(argv[1], "trickle") != 0 && std::strcmp(argv[1], "stream") != 0)) {
        std::fprintf(stderr, "usage: bench_idle trickle|stream SECONDS [--rss-every S] [--warmup S] "
                             "[--exchange-every S]\n");
        return 2;
    }
    const bool stream = std::strcmp(argv[1], "stream") == 0;
    const double runSeconds = std::atof(argv[2]);
    double rssEvery = 10, warmup = 0, exchangeEvery = 10;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rss-every") == 0)
            rssEvery = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--warmup") == 0)
            warmup = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--exchange-every") == 0)
            exchangeEvery = std::atof(argv[i + 1]);
    }

    FarEnd far(stream);
    if (!far.ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 2;
    }
    QuietSeams seams;
    frmMain w(nullptr, &seams);
    w.show();
    if (!openLine(w, far.device()))
        return 2;

    const auto start = Clock::now();
    const long long rssStart = residentKiB();
    long long rssWarm = rssStart, rssMax = 0, rssLast = rssStart;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        rssLast = residentKiB();
        const double t = seconds(Clock::now() - start);
        std::printf("rss t=%.0f kib=%lld\n", t, rssLast);
        std::fflush(stdout);
        if (t <= warmup)
            rssWarm = rssLast;
        else
            rssMax = std::max(rssMax, rssLast);
    });
    sampler.start(int(rssEvery * 1000));

    // The operator's exchange, now and then; the rest of the time the line
    // is idle and the window waits in its event loop.
    long long exchanges = 0, answered = 0;
    QTimer exchange;
    QObject::connect(&exchange, &QTimer::timeout, [&] {
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        w.cmdSend_Click();
        ++exchanges;
        answered += w.resultsText().contains("Vek,Idle bench") ? 1 : 0;
    });
    if (exchangeEvery > 0)
        exchange.start(int(exchangeEvery * 1000));

    QTimer::singleShot(int(runSeconds * 1000), &app, [] { QCoreApplication::exit(0); });
    app.exec();
    rssLast = residentKiB();
    std::printf("mode=%s\nseconds=%.1f\nfar_end_sent_bytes=%lld\nexchanges=%lld\nanswered=%lld\nport_open_at_end=%d\n"
                "rss_start_kib=%lld\nrss_warm_kib=%lld\nrss_end_kib=%lld\nrss_max_after_warmup_kib=%lld\n",
                stream ? "stream" : "trickle", seconds(Clock::now() - start), far.sent(), exchanges, answered,
                w.MSComm1->PortOpen() ? 1 : 0, rssStart, rssWarm, rssLast, std::max(rssMax, rssLast));
    w.MSComm1->PortOpen(false);
    return 0;
}
