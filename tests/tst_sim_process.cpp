// SPDX-License-Identifier: MIT
// orna-sim as its own process: the device path on its first line, its
// stable link, SCPI and X3.28 through the pseudo-terminal, a fault switched
// on standard input, the frame log, and a clean end on SIGINT (link removed).
// The command lines of orna-sim, ornasertest and orna-run: what each
// answers, refuses, and with which exit status. orna-run's plans against
// orna-sim on its pseudo-terminal: the report, the JUnit file, the log and
// the exit status.

#include <QtTest>
#include <QXmlStreamReader>

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

// The programs, built beside orna-sim.
QString programBinary(const QString &name = QStringLiteral("ornasertest"))
{
    return QFileInfo(simBinary()).dir().filePath(name);
}
} // namespace

class TestSimProcess : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void servesALineAndEndsOnCtrlC();
    void helpListsEveryOptionAndBadOptionsFail();
    void commandLines_data();
    void commandLines();
    void outlivesItsLogReader();
    void runsPlans_data();
    void runsPlans();
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

    // Bad commands are refused with the reason and change nothing; a line
    // without end is not kept beyond its bound.
    sim.write("turnaround inf\nbusy nan\ndelay-ms 1e300\nturnaround 1e300\n");
    sim.write(QByteArray(5000, 'x') + "\nfaults\n");
    QVERIFY(waitForOutput(sim, out, "a command line longer than 4096 bytes was ignored\norna-sim: faults: nak always"));
    for (const char *line : {"orna-sim: turnaround: 'inf' is not a time in ms from 0 to 600000; unchanged",
                             "orna-sim: busy: 'nan' is not a time in ms from 0 to 600000; unchanged",
                             "orna-sim: --delay-ms: '1e300' is not a whole number from 0 to 600000",
                             "orna-sim: turnaround: '1e300' is not a time in ms from 0 to 600000; unchanged"})
        QVERIFY2(out.contains(line), line);
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
                               "--fixed-baud", "--unpaced", "--tau", "--ripple", "--seed", "--delay ", "--delay-ms",
                               "--silence", "--nak", "--noise ", "--noise-bytes", "--holdoff ", "--holdoff-count",
                               "--holdoff-ms", "--no-stx", "--after-eot ", "--after-eot-bytes", "--babble ",
                               "--babble-bytes", "--drop"})
        QVERIFY2(text.contains(option), option);

    // Refused with the option named: not a number, out of range, or a
    // number no time or rate can be (it would be undefined to convert).
    for (const QStringList &bad : {QStringList{"--nak", "sometimes"}, QStringList{"--controller", "40"},
                                   QStringList{"--controller", "5:watlow"}, QStringList{"--format", "8E2"},
                                   QStringList{"--table", "full"}, QStringList{"--turnaround", "inf"},
                                   QStringList{"--turnaround", "nan"}, QStringList{"--busy", "1e300"},
                                   QStringList{"--turnaround", "-1"}, QStringList{"--baud", "1e300"},
                                   QStringList{"--baud", "inf"}, QStringList{"--baud", "49"},
                                   QStringList{"--tau", "nan"}, QStringList{"--ripple", "inf"},
                                   QStringList{"--delay-ms", "2e9"}, QStringList{"--babble-bytes", "2000000000"},
                                   QStringList{"--noise-bytes", "-1"}, QStringList{"--nak", "rate:nan"}}) {
        QProcess p;
        p.start(simBinary(), bad);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty()); // no device was served
        const QByteArray why = p.readAllStandardError();
        QVERIFY2(why.startsWith("orna-sim: " + bad[0].toLatin1() + ": '" + bad[1].toLatin1() + "'"), why.constData());
    }
}

// Each program's answer to a command line, its exit status, and what it
// printed where. LINK stands for a path for orna-sim's --link; a signal, when
// given, is sent once orna-sim serves, and the link must be gone after it.
void TestSimProcess::commandLines_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("output"); // standard output starts with it
    QTest::addColumn<QByteArray>("error");  // standard error starts with it
    const QString sim = QStringLiteral("orna-sim"), program = QStringLiteral("ornasertest");
    QTest::newRow("orna-sim --version") << sim << QStringList{"--version"} << 0 << 0
                                        << QByteArray("orna-sim " ORNA_VERSION "\n") << QByteArray();
    QTest::newRow("orna-sim, unknown option") << sim << QStringList{"--bogus"} << 0 << 2 << QByteArray()
                                              << QByteArray("orna-sim: Unknown option 'bogus'.");
    QTest::newRow("orna-sim, an argument") << sim << QStringList{"extra"} << 0 << 2 << QByteArray()
                                           << QByteArray("orna-sim: 'extra' is not an option");
    QTest::newRow("orna-sim, one address twice")
        << sim << QStringList{"--controller", "1", "--controller", "1:f4"} << 0 << 2 << QByteArray()
        << QByteArray("orna-sim: --controller: '1:f4' gives address 1 a second controller");
    QTest::newRow("orna-sim, %1 in a value") << sim << QStringList{"--turnaround", "%1"} << 0 << 2 << QByteArray()
                                             << QByteArray("orna-sim: --turnaround: '%1' is not a time in ms from 0 to 600000\n");
    QTest::newRow("orna-sim, SIGHUP") << sim << QStringList{"--link", "LINK"} << int(SIGHUP) << 0
                                      << QByteArray("orna-sim: serving on /dev/pts/") << QByteArray();
    QTest::newRow("ornasertest --help") << program << QStringList{"--help"} << 0 << 0 << QByteArray("Usage: ")
                                        << QByteArray();
    QTest::newRow("ornasertest --version") << program << QStringList{"--version"} << 0 << 0
                                           << QByteArray("OrnaSerTest " ORNA_VERSION "\n") << QByteArray();
    // NODISPLAY: started with no display at all.
    QTest::newRow("ornasertest --version without a display") << program << QStringList{"NODISPLAY", "--version"} << 0
                                                            << 0 << QByteArray("OrnaSerTest " ORNA_VERSION "\n")
                                                            << QByteArray();
    QTest::newRow("ornasertest, Qt's own option") << program << QStringList{"-platform", "offscreen", "--version"}
                                                  << 0 << 0 << QByteArray("OrnaSerTest " ORNA_VERSION "\n")
                                                  << QByteArray();
    QTest::newRow("ornasertest, unknown option") << program << QStringList{"--bogus"} << 0 << 2 << QByteArray()
                                                 << QByteArray("ornasertest: Unknown option 'bogus'.");
    QTest::newRow("ornasertest, an argument") << program << QStringList{"session.log"} << 0 << 2 << QByteArray()
                                              << QByteArray("ornasertest: 'session.log' is not an option");
    const QString run = QStringLiteral("orna-run");
    QTest::newRow("orna-run --version") << run << QStringList{"--version"} << 0 << 0
                                        << QByteArray("orna-run " ORNA_VERSION "\n") << QByteArray();
    QTest::newRow("orna-run, unknown option") << run << QStringList{"--bogus", "x.plan"} << 0 << 2 << QByteArray()
                                              << QByteArray("orna-run: Unknown option 'bogus'.");
    QTest::newRow("orna-run, no plan") << run << QStringList{} << 0 << 2 << QByteArray()
                                       << QByteArray("orna-run: no plan given.");
    QTest::newRow("orna-run, a rate the port dialog has not")
        << run << QStringList{"--baud", "4800", "x.plan"} << 0 << 2 << QByteArray()
        << QByteArray("orna-run: --baud: '4800' is not 1200, 2400, 9600, 19200 or 38400");
    QTest::newRow("orna-run, a missing plan") << run << QStringList{"--check", "missing.plan"} << 0 << 2 << QByteArray()
                                              << QByteArray("missing.plan: cannot read: No such file or directory");
}

void TestSimProcess::commandLines()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("orna"));
    arguments.replaceInStrings(QStringLiteral("LINK"), link);
    QProcess p;
    p.setWorkingDirectory(dir.path());
    if (arguments.removeAll(QStringLiteral("NODISPLAY"))) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        p.setProcessEnvironment(env);
    }
    p.start(program == QLatin1String("orna-sim") ? simBinary() : programBinary(program), arguments);
    QVERIFY2(p.waitForStarted(10000), qPrintable(p.errorString()));
    QByteArray out;
    if (signal) {
        QVERIFY(waitForOutput(p, out, "\n"));
        QVERIFY(QFileInfo(link).isSymLink());
        ::kill(p.processId(), signal);
    }
    QVERIFY(p.waitForFinished(10000));
    out += p.readAllStandardOutput();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    QVERIFY2(out.startsWith(output), out.constData());
    // Qt's own start-up notes may come first.
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(error.isEmpty() || err.contains("\n" + error) || err.startsWith(error), err.constData());
    QVERIFY(!QFileInfo(link).isSymLink());
}

// orna-sim | head -1: the log's reader goes after the first line; the
// converter goes on serving, and ends normally on SIGTERM.
void TestSimProcess::outlivesItsLogReader()
{
    QProcess sim, head;
    sim.setStandardOutputProcess(&head);
    head.start(QStringLiteral("head"), {QStringLiteral("-1")});
    sim.start(simBinary(), {QStringLiteral("--turnaround"), QStringLiteral("0")});
    QVERIFY2(sim.waitForStarted(10000), qPrintable(sim.errorString()));
    QVERIFY(head.waitForFinished(10000));
    const QByteArray first = head.readAllStandardOutput().trimmed();
    QVERIFY2(first.startsWith("orna-sim: serving on /dev/pts/"), first.constData());
    const QByteArray path = first.mid(21);

    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &tio), 0);
    // Every exchange is logged, into a pipe nobody reads any more.
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(::write(fd, "*idn?\n", 6), ssize_t(6));
        const QByteArray id = readPort(fd, ">");
        QVERIFY2(id.startsWith("Vek,Orna simulator,"), id.constData());
    }
    QCOMPARE(sim.state(), QProcess::Running);
    ::kill(sim.processId(), SIGTERM);
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

// Plans run by orna-run against orna-sim on its pseudo-terminal: every step
// one line, the JUnit file a CI server reads, the session log, the exit
// status. A faulty plan or a port that will not open sends nothing (2); a
// signal ends the run after the exchange in progress, with the report and
// the log written (128 + the signal).
void TestSimProcess::runsPlans_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("arguments"); // DEVICE: orna-sim's pseudo-terminal
    QTest::addColumn<int>("signal");            // sent once the run is in its pause
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("junit");         // tests, failures, errors, skipped; empty: none written
    QTest::addColumn<QByteArray>("says");       // in standard output or standard error
    const QByteArray smoke = "open COM1\nsend *idn?\nexpect /^Vek,/\nsend SYST:LANG X3.28\npause 100\n"
                             "address 1\nexpect Device address set to 1\nquery C1\n"
                             "expect /^Received STX -?[0-9.]+<cr> ETX$/\nsend @@@\n";
    QTest::newRow("a plan that passes") << smoke << QStringList{"--port", "DEVICE"} << 0 << 0 << "7 0 0 0"
                                        << QByteArray("7 passed, 0 failed, 0 errors, 0 not run");
    const QByteArray failing = "open DEVICE 19200\nsend *idn?\nexpect Vek,Bench\nsend *cls\n";
    QTest::newRow("a step that fails") << failing << QStringList{} << 0 << 1 << "3 1 0 0" << QByteArray("FAIL ");
    QTest::newRow("stop on failure") << failing << QStringList{"--stop-on-failure"} << 0 << 1 << "3 1 0 1"
                                     << QByteArray("NOT RUN");
    QTest::newRow("repeated") << failing << QStringList{"--repeat", "2"} << 0 << 1 << "6 2 0 0"
                              << QByteArray("line 2 #2: send *idn?");
    QTest::newRow("a log that cannot be written: nothing sent")
        << failing << QStringList{"--log", "/nonexistent-ornasertest/run.log"} << 0 << 2 << ""
        << QByteArray("orna-run: cannot write /nonexistent-ornasertest/run.log: the folder");
    QTest::newRow("a faulty plan: nothing sent, the report says why")
        << QByteArray("open DEVICE\nsendd *idn?\n") << QStringList{} << 0 << 2 << "1 0 1 0"
        << QByteArray("run.plan:2: unknown step 'sendd'");
    QTest::newRow("a port that will not open") << smoke << QStringList{"--port", "/dev/does-not-exist-42"} << 0 << 2
                                               << "7 0 1 6" << QByteArray("could not be opened: no such device");
    QTest::newRow("SIGTERM during a pause")
        << QByteArray("open DEVICE\nsend *idn?\npause 60000\nsend *cls\n") << QStringList{} << int(SIGTERM) << 143
        << "4 0 0 2" << QByteArray("NOT RUN");
}

void TestSimProcess::runsPlans()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, junit);
    QFETCH(QByteArray, says);
    QTemporaryDir dir;
    QProcess sim;
    sim.start(simBinary(), {QStringLiteral("--turnaround"), QStringLiteral("0")});
    QByteArray simOut;
    QVERIFY(waitForOutput(sim, simOut, "\n"));
    const QByteArray device = simOut.split('\n').first().mid(int(qstrlen("orna-sim: serving on ")));
    QFile file(dir.filePath(QStringLiteral("run.plan")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(plan.replace("DEVICE", device));
    file.close();
    arguments.replaceInStrings(QStringLiteral("DEVICE"), QString::fromLatin1(device));
    if (!arguments.contains(QStringLiteral("--log")))
        arguments << QStringLiteral("--log") << dir.filePath(QStringLiteral("run.log"));
    if (!junit.isEmpty())
        arguments << QStringLiteral("--junit") << dir.filePath(QStringLiteral("report.xml"));
    arguments << file.fileName();
    QProcess run;
    run.setWorkingDirectory(dir.path());
    run.start(programBinary(QStringLiteral("orna-run")), arguments);
    QVERIFY(run.waitForStarted(10000));
    QByteArray out;
    if (signal) {
        QVERIFY(waitForOutput(run, out, "send *idn?"));
        QTest::qWait(200); // into the pause
        ::kill(run.processId(), signal);
    }
    QVERIFY(run.waitForFinished(20000));
    out += run.readAllStandardOutput();
    const QByteArray err = run.readAllStandardError();
    out += err;
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    // A run that passed has nothing to complain of.
    QVERIFY2(status != 0 || err.isEmpty(), err.constData());
    QCOMPARE(run.exitCode(), status);
    QVERIFY2(out.contains(says), out.constData());
    QFile report(dir.filePath(QStringLiteral("report.xml")));
    QCOMPARE(report.exists(), !junit.isEmpty());
    if (!junit.isEmpty()) {
        QVERIFY(report.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&report);
        QString counts;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("testsuite")) {
                const QXmlStreamAttributes a = xml.attributes();
                counts = QStringList{a.value(QLatin1String("tests")).toString(), a.value(QLatin1String("failures")).toString(),
                                     a.value(QLatin1String("errors")).toString(), a.value(QLatin1String("skipped")).toString()}
                             .join(QLatin1Char(' '));
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(counts, junit);
    }
    if (status != 2) {
        // The log holds the run up to the line's closing.
        QFile log(dir.filePath(QStringLiteral("run.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll().trimmed();
        QVERIFY(text.contains("\tOPEN\t"));
        QVERIFY2(text.endsWith("\tCLOSE\t-"), text.right(200).constData());
    } else {
        // Nothing went to the converter.
        QTest::qWait(100);
        simOut += sim.readAllStandardOutput();
        QVERIFY2(!simOut.contains("host>"), simOut.constData());
    }
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_sim_process.moc"
