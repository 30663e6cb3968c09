// SPDX-License-Identifier: MIT
// The stand-in converter served on a real pseudo-terminal by SimHost, with
// this test in the program's place on the slave side (plain termios).

#include "sim/server/SimHost.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The program's side of the line.
class Port
{
public:
    ~Port() { close(); }
    bool open(const QString &path, speed_t speed = B9600)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool write(const QByteArray &bytes) { return ::write(m_fd, bytes.constData(), bytes.size()) == bytes.size(); }
    // Reads until the terminator has arrived or the time is up.
    QByteArray readUntil(const QByteArray &terminator, int timeoutMs = 5000)
    {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (!got.contains(terminator) && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp = true;
                break;
            }
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }
    // Whatever arrives within the time, which must pass in full.
    QByteArray readFor(int ms) { return readUntil(QByteArray("\xff\xfe\xfd"), ms); }
    int fd() const { return m_fd; }
    bool hungUp = false;

private:
    int m_fd = -1;
};

SimConfig quickConfig()
{
    SimConfig cfg;
    cfg.turnaroundMs = 0.0;
    cfg.busyMs = 0.0;
    return cfg;
}
} // namespace

class TestSimServer : public QObject
{
    Q_OBJECT
private slots:
    void servesScpiOnAPrivatePseudoTerminal();
    void speaksX328AndLogsEveryFrame();
    void pacesRepliesAtThePortsBaudRate();
    void survivesTheProgramClosingAndReopening();
    void faultsAndTurnaroundSwitchFromAnotherThread();
    void droppedLineLooksLikeAVanishedDevice();
};

void TestSimServer::servesScpiOnAPrivatePseudoTerminal()
{
    SimHost host(quickConfig());
    QString error;
    const QString path = host.start(&error);
    QVERIFY2(!path.isEmpty(), qPrintable(error));
    QVERIFY(path.startsWith(QLatin1String("/dev/pts/")));
    QCOMPARE(host.devicePath(), path);
    QVERIFY(host.isServing());
    QCOMPARE(host.start(), path); // already serving: the same line

    struct stat st{};
    QCOMPARE(::stat(path.toLocal8Bit().constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QCOMPARE(st.st_uid, ::getuid());

    Port port;
    QVERIFY(port.open(path));
    QVERIFY(port.write("*IDN?\n"));
    QCOMPARE(port.readUntil(">"), OrnaEngine::identification() + "\n>");
    QVERIFY(port.write("*ESR?\r\n"));
    QCOMPARE(port.readUntil(">"), QByteArray("0\n>"));

    host.stop();
    QVERIFY(!host.isServing());
    QVERIFY(host.devicePath().isEmpty());
}

void TestSimServer::speaksX328AndLogsEveryFrame()
{
    SimHost host(quickConfig());
    QStringList log;
    connect(host.server(), &SimServer::frameLogged, this, [&](const SimFrame &f) { log << f.toLogLine(); });
    const QString path = host.start();
    Port port;
    QVERIFY(port.open(path));

    QVERIFY(port.write("SYST:LANG X3.28\nSYST:LANG X3.28"));
    QCOMPARE(port.readUntil(">"), QByteArray(">"));
    QVERIFY(port.write("5\x05"));
    QCOMPARE(port.readUntil("\x06"), QByteArray("5\x06"));
    QVERIFY(port.write("\x02? SP1\x03"));
    QCOMPARE(port.readUntil("\x06"), QByteArray("\x06"));
    QVERIFY(port.write("\x04"));
    QCOMPARE(port.readUntil("\x03"), QByteArray("\x02" "75.0\r\x03"));
    QVERIFY(port.write("\x06"));
    QCOMPARE(port.readUntil("\x04"), QByteArray("\x04"));

    // The log reaches this thread through the event loop.
    QTRY_VERIFY(log.join('\n').contains(QLatin1String("sim > <EOT>")));
    const QString all = log.join('\n');
    for (const char *expected : {"serving on /dev/pts/", "host> SYST:LANG X3.28<LF>", "language X3.28",
                                 "bare copy of the language switch", "host> 5<ENQ>", "sim > 5<ACK>",
                                 "host> <STX>? SP1<ETX>", "sim > <STX>75.0<CR><ETX>", "host> <ACK>"})
        QVERIFY2(all.contains(QLatin1String(expected)), expected);
}

void TestSimServer::pacesRepliesAtThePortsBaudRate()
{
    SimHost host(quickConfig());
    const QString path = host.start();
    Port port;
    QVERIFY(port.open(path, B1200));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write("*IDN?\n"));
    const QByteArray reply = port.readUntil(">");
    const qint64 ms = clock.elapsed();
    QCOMPARE(reply, OrnaEngine::identification() + "\n>");
    QCOMPARE(host.server()->lineFormat().baud, 1200);
    // 32 characters of 10 bits at 1200 baud cannot arrive in less than 266 ms.
    QVERIFY2(ms >= 250, qPrintable(QString::number(ms)));

    // Without following the port the configured rate stays.
    SimConfig fixed = quickConfig();
    fixed.followPortBaud = false;
    fixed.line.baud = 38400;
    SimHost other(fixed);
    Port port2;
    QVERIFY(port2.open(other.start(), B1200));
    QVERIFY(port2.write("*IDN?\n"));
    QCOMPARE(port2.readUntil(">"), OrnaEngine::identification() + "\n>");
    QCOMPARE(other.server()->lineFormat().baud, 38400);
}

void TestSimServer::survivesTheProgramClosingAndReopening()
{
    SimHost host(quickConfig());
    const QString path = host.start();
    for (int i = 0; i < 3; ++i) {
        Port port;
        QVERIFY(port.open(path));
        QVERIFY(port.write("*OPC?\n"));
        QCOMPARE(port.readUntil(">"), QByteArray("1\n>"));
        port.close();
    }
    // A query whose answer comes after the port closed does not hurt either.
    SimFaults slow;
    slow.delay = SimTrigger::once();
    slow.delayMs = 200;
    host.setFaults(slow);
    {
        Port port;
        QVERIFY(port.open(path));
        QVERIFY(port.write("*OPC?\n"));
    }
    QTest::qWait(400);
    Port port;
    QVERIFY(port.open(path));
    tcflush(port.fd(), TCIFLUSH); // as the program clears what arrived while it was away
    QVERIFY(port.write("*IDN?\n"));
    QCOMPARE(port.readUntil(">"), OrnaEngine::identification() + "\n>");
    QVERIFY(host.isServing());
}

void TestSimServer::faultsAndTurnaroundSwitchFromAnotherThread()
{
    SimHost host(quickConfig());
    Port port;
    QVERIFY(port.open(host.start()));

    SimFaults quiet;
    quiet.silence = SimTrigger::always();
    host.setFaults(quiet);
    QCOMPARE(host.server()->faults(), quiet);
    QVERIFY(port.write("*IDN?\n"));
    QCOMPARE(port.readFor(500), QByteArray());

    host.setFaults(SimFaults());
    host.setTurnaroundMs(300);
    QCOMPARE(host.server()->turnaroundMs(), 300.0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write("*OPC?\n"));
    QCOMPARE(port.readUntil(">"), QByteArray("1\n>"));
    QVERIFY(clock.elapsed() >= 290);

    // The engine can be inspected safely while it serves.
    int esr = -1;
    host.server()->withEngine([&](OrnaEngine &e) { esr = e.eventStatus(); });
    QCOMPARE(esr, 0);
}

void TestSimServer::droppedLineLooksLikeAVanishedDevice()
{
    SimHost host(quickConfig());
    QSignalSpy dropped(host.server(), &SimServer::lineDropped);
    const QString path = host.start();
    Port port;
    QVERIFY(port.open(path));
    SimFaults f;
    f.drop = SimTrigger::once();
    host.setFaults(f);
    QVERIFY(port.write("*IDN?\n"));
    QCOMPARE(port.readUntil(">"), QByteArray());
    QVERIFY(port.hungUp);
    char c;
    QVERIFY(::read(port.fd(), &c, 1) <= 0);
    QTRY_COMPARE(dropped.count(), 1);
    QVERIFY(!host.isServing());

    // Starting again gives a fresh converter on a new line.
    const QString again = host.start();
    QVERIFY(!again.isEmpty());
    host.setFaults(SimFaults());
    Port port2;
    QVERIFY(port2.open(again));
    QVERIFY(port2.write("*IDN?\n"));
    QCOMPARE(port2.readUntil(">"), OrnaEngine::identification() + "\n>");

    // Dropping on request works the same.
    host.server()->dropLine();
    QVERIFY(port2.readUntil(">").isEmpty());
    QVERIFY(port2.hungUp);
    QTRY_COMPARE(dropped.count(), 2);
}


QTEST_GUILESS_MAIN(TestSimServer)
#include "tst_sim_server.moc"
