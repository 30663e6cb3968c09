// SPDX-License-Identifier: MIT
// Exchange time through the program's own code: the real window, shown
// offscreen, on the real serial layer (QtSerialPortObject over QSerialPort)
// at 38400 baud 8N1, against whatever serves DEVICE (orna-sim in run.sh).
//
//   bench_exchange [--hidden|--bare] DEVICE scpi|x328 COUNT OUTFILE
//       COUNT SCPI queries (*IDN? through cmdSend_Click) or X3.28 polls (C1
//       through cmdQuery_Click: poll, ACK, EOT, data block, ACK, EOT); the
//       time of each click in microseconds goes to OUTFILE, one line each.
//   bench_exchange --memory DEVICE COUNT
//       resident memory with the window shown, with the line open, after
//       half of COUNT exchanges and after all (blocks of 1,000 SCPI queries
//       and 1,000 X3.28 polls in turn), as key=value.
//   --record FOLDER (before the rest): the line monitor shown and a log
//       file written continuously into FOLDER, as a bench engineer runs it.
//
// Exits 1 when an exchange ends with an error or a wrong answer.

#include "BenchCommon.h"

#include "app/frmMain.h"
#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QApplication>
#include <QAction>
#include <QComboBox>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace bench;

namespace {

// One SCPI query; false when it did not end with the expected reply.
bool scpiQuery(frmMain &w)
{
    w.combCmd->setEditText(QStringLiteral("*IDN?"));
    const qint64 before = w.RdgAnswers;
    w.cmdSend_Click();
    // At line rate the prompt of the query before may come first.
    return w.RdgAnswers == before + 1 && w.Rdg.contains("Vek,") && !w.errorShown();
}

bool x328Poll(frmMain &w)
{
    w.cmdQuery_Click();
    return w.resultsText().endsWith("Received EOT") && !w.errorShown();
}

// The same bytes through the window's own wait and serial layer only:
// drain, write, RxWait for each step, with no transcript and no checks of
// the entry boxes. Shows what the serial code costs without the window.
bool scpiQueryBare(frmMain &w)
{
    w.drainInput();
    w.writeOut(FrameScpi("*IDN?"));
    const RxResult r = w.RxWait({QByteArray(1, Ctl::LF)}, kReplyPollLimit);
    return r.ok() && r.buffer.contains("Vek,");
}

bool x328PollBare(frmMain &w)
{
    w.drainInput();
    w.writeOut(FramePoll("C1"));
    RxResult r = w.RxWait({QByteArray(1, Ctl::ACK), QByteArray(1, Ctl::NAK)}, kReplyPollLimit);
    if (!r.ok() || !r.buffer.contains(Ctl::ACK))
        return false;
    w.writeOut(QByteArray(1, Ctl::EOT));
    r = w.RxWait({QByteArray(1, Ctl::ETX)}, kReplyPollLimit);
    if (!r.ok() || r.buffer.at(0) != Ctl::STX)
        return false;
    w.writeOut(QByteArray(1, Ctl::ACK));
    r = w.RxWait({QByteArray(1, Ctl::EOT)}, kReplyPollLimit);
    return r.ok();
}

int timed(frmMain &w, bool x328, bool bare, int count, const char *outfile)
{
    FILE *out = std::fopen(outfile, "a");
    if (!out) {
        std::perror(outfile);
        return 2;
    }
    if (x328) {
        if (!enterX328(w))
            return 1;
        w.combQuery->setEditText(QStringLiteral("C1"));
    }
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!x328)
            w.combCmd->setEditText(QStringLiteral("*IDN?"));
        const auto t0 = Clock::now();
        const bool ok = bare ? (x328 ? x328PollBare(w) : scpiQueryBare(w)) : (x328 ? x328Poll(w) : scpiQuery(w));
        const auto t1 = Clock::now();
        if (!ok && ++failures <= 3)
            std::fprintf(stderr, "exchange %d failed: %s | %s\n", i, qPrintable(w.errorText()),
                         w.resultsText().right(60).constData());
        std::fprintf(out, "%.1f\n", seconds(t1 - t0) * 1e6);
    }
    if (x328)
        leaveX328(w);
    std::fclose(out);
    if (failures)
        std::fprintf(stderr, "bench_exchange: %d of %d exchanges failed\n", failures, count);
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    // --hidden: the window is not shown, so nothing is painted; this leaves
    // the exchange code and the serial layer alone.
    // --bare: the window hidden, and only its wait and the serial layer
    // exchange the bytes (no click handler, no transcript).
    bool hidden = false, bare = false;
    QString recordFolder;
    while (argc > 1) {
        if (std::strcmp(argv[1], "--hidden") == 0 || std::strcmp(argv[1], "--bare") == 0) {
            bare = bare || std::strcmp(argv[1], "--bare") == 0;
            hidden = true;
        } else if (std::strcmp(argv[1], "--record") == 0 && argc > 2) {
            recordFolder = QString::fromLocal8Bit(argv[2]);
            --argc;
            ++argv;
        } else {
            break;
        }
        --argc;
        ++argv;
    }
    const bool memoryMode = argc == 4 && std::strcmp(argv[1], "--memory") == 0;
    if (!memoryMode && argc != 5) {
        std::fprintf(stderr, "usage: bench_exchange [--hidden|--bare] [--record FOLDER] DEVICE scpi|x328 COUNT OUTFILE\n"
                             "       bench_exchange [--record FOLDER] --memory DEVICE COUNT\n");
        return 2;
    }
    QuietSeams seams;
    seams.folder = recordFolder;
    frmMain w(nullptr, &seams);
    if (!hidden)
        w.show();
    if (!recordFolder.isEmpty()) {
        w.actMonitor->trigger();
        w.actLogContinuously->trigger();
        if (!w.actLogContinuously->isChecked()) {
            std::fprintf(stderr, "bench_exchange: cannot log into %s\n", qPrintable(recordFolder));
            return 2;
        }
    }
    QCoreApplication::processEvents();
    const long long rssShown = residentKiB();
    const QString device = QString::fromLocal8Bit(argv[memoryMode ? 2 : 1]);
    if (!openLine(w, device))
        return 2;
    // Start from SCPI whatever an earlier run left.
    w.MSComm1->Output("@@@");
    settle(w, 50);

    if (!memoryMode)
        return timed(w, std::strcmp(argv[2], "x328") == 0, bare, std::atoi(argv[3]), argv[4]);

    // Blocks of SCPI queries and X3.28 polls in turn, so both halves hold
    // the same mix; the first half fills the line monitor's ring (100,000
    // records), after which its memory is what it keeps.
    const int count = std::atoi(argv[3]);
    constexpr int kBlock = 1000;
    const long long rssOpen = residentKiB();
    long long rssWarm = rssOpen;
    int failures = 0;
    for (int done = 0; done < count;) {
        const int block = std::min(kBlock, count - done);
        const bool x328 = (done / kBlock) % 2 == 1;
        if (x328) {
            if (!enterX328(w))
                return 1;
            w.combQuery->setEditText(QStringLiteral("C1"));
        }
        for (int i = 0; i < block; ++i)
            failures += x328 ? !x328Poll(w) : !scpiQuery(w);
        if (x328)
            leaveX328(w);
        const bool halfway = done < count / 2 && done + block >= count / 2;
        done += block;
        if (halfway)
            rssWarm = residentKiB();
    }
    const long long rssAfter = residentKiB();
    std::printf("rss_shown_kib=%lld\nrss_open_kib=%lld\nrss_warm_kib=%lld\nrss_after_kib=%lld\nexchanges=%d\n"
                "failures=%d\n",
                rssShown, rssOpen, rssWarm, rssAfter, count, failures);
    return failures ? 1 : 0;
}
