// SPDX-License-Identifier: MIT
// orna-sim as its own process: the device path on its first line, its
// stable link, SCPI and X3.28 through the pseudo-terminal, a fault switched
// on standard input, the frame log, and a clean end on SIGINT (link removed).

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
QByteArray readPort(int fd, const QByteArray &terminator, int timeoutMs = 5000)
{
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (!got.contains(terminator) && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

// Reads the process's output until it holds the text or the time is up.
bool waitForOutput(QProcess &p, QByteArray &out, const QByteArray &text, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!out.contains(text) && !deadline.hasExpired()) {
        p.waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(200, deadline.remainingTime()))));
        out += p.readAllStandardOutput();
    }
    return out.contains(text);
}

QString simBinary()
{
    return qEnvironmentVariable("ORNA_SIM_BIN");
}
} // namespace

class TestSimProcess : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void servesALineAndEndsOnCtrlC();
    void helpListsEveryOptionAndBadOptionsFail();
};

void TestSimProcess::init()
{
    const QString bin = simBinary();
    if (bin.isEmpty())
        QSKIP("ORNA_SIM_BIN is not set");
    if (!QFileInfo(bin).isExecutable())
        QSKIP("ORNA_SIM_BIN does not name a built orna-sim");
}

void TestSimProcess::servesALineAndEndsOnCtrlC()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("orna"));
    QProcess sim;
    sim.start(simBinary(), {QStringLiteral("--turnaround"), QStringLiteral("0"), QStringLiteral("--controller"),
                            QStringLiteral("5:ezzone"), QStringLiteral("--controller"), QStringLiteral("35:f4"),
                            QStringLiteral("--link"), link});
    QVERIFY2(sim.waitForStarted(10000), qPrintable(sim.errorString()));
    QByteArray out;
    QVERIFY(waitForOutput(sim, out, "\n"));
    const QByteArray first = out.left(out.indexOf('\n'));
    QVERIFY2(first.startsWith("orna-sim: serving on /dev/pts/"), first.constData());
    QVERIFY2(first.endsWith(" (linked from " + QFile::encodeName(link) + ")"), first.constData());
    const QByteArray path = first.mid(21, first.indexOf(' ', 21) - 21);
    QCOMPARE(QFile::symLinkTarget(link), QString::fromLocal8Bit(path));

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &tio), 0);
    auto send = [fd](const QByteArray &bytes) { return ::write(fd, bytes.constData(), bytes.size()) == bytes.size(); };

    QVERIFY(send("*idn?\n"));
    const QByteArray id = readPort(fd, ">");
    QVERIFY2(id.startsWith("Vek,Orna simulator,") && id.endsWith("\n>"), id.constData());
    QCOMPARE(id.left(id.indexOf('\n')).split(',').size(), 4);

    QVERIFY(send("SYST:LANG X3.28\nSYST:LANG X3.28"));
    QCOMPARE(readPort(fd, ">"), QByteArray(">"));
    QVERIFY(send("Z\x05")); // 35, the highest address
    QCOMPARE(readPort(fd, "\x06"), QByteArray("Z\x06"));
    QVERIFY(send("1\x05")); // no controller at 1 in this run
    QCOMPARE(readPort(fd, "\x06", 500), QByteArray());

    // A fault typed on standard input applies to the next reply.
    QVERIFY(send("5\x05"));
    QCOMPARE(readPort(fd, "\x06"), QByteArray("5\x06"));
    sim.write("nak always\n");
    QVERIFY(waitForOutput(sim, out, "faults: nak always"));
    QVERIFY(send("\x02= SP1 50\x03"));
    QCOMPARE(readPort(fd, "\x15"), QByteArray("\x15"));

    QVERIFY(waitForOutput(sim, out, "sim > <NAK>  [NAK fault]"));
    for (const char *line : {"host> *idn?<LF>", "sim > Vek,Orna simulator,", "host> 5<ENQ>", "sim > 5<ACK>",
                             "host> 1<ENQ>", "no controller at address 1", "line rate 19200 baud"})
        QVERIFY2(out.contains(line), line);

    ::kill(sim.processId(), SIGINT);
    QVERIFY(sim.waitForFinished(10000));
    out += sim.readAllStandardOutput();
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(out.trimmed().endsWith("orna-sim: stopped"));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimProcess::helpListsEveryOptionAndBadOptionsFail()
{
    QProcess help;
    help.start(simBinary(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char *option : {"--version", "--link", "--controller", "--table", "--turnaround", "--busy", "--baud", "--format",
                               "--fixed-baud", "--tau", "--ripple", "--seed", "--delay ", "--delay-ms",
                               "--silence", "--nak", "--noise ", "--noise-bytes", "--holdoff ", "--holdoff-count",
                               "--holdoff-ms", "--no-stx", "--after-eot ", "--after-eot-bytes", "--babble ",
                               "--babble-bytes", "--drop"})
        QVERIFY2(text.contains(option), option);

    for (const QStringList &bad : {QStringList{"--nak", "sometimes"}, QStringList{"--controller", "40"},
                                   QStringList{"--controller", "5:watlow"}, QStringList{"--format", "8E2"},
                                   QStringList{"--table", "full"}}) {
        QProcess p;
        p.start(simBinary(), bad);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty()); // no device was served
        QVERIFY(p.readAllStandardError().startsWith("orna-sim: "));
    }
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_sim_process.moc"
