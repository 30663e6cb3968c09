// SPDX-License-Identifier: MIT
// The real serial code on a pseudo-terminal: bytes unchanged both ways, line
// settings, open failures (missing, held by another program, no
// permission), a lost line, and one SCPI exchange end to end.

#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"
#include "serial/frmPorts.h"
#include "support/FakeSeams.h"
#include "support/PtyPeer.h"
#include "support/UserInput.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Root acting as an unprivileged user for what follows, and root again at
// the end (the effective ids only; the real ones stay root's).
class AsUser
{
public:
    AsUser(uid_t uid, gid_t gid)
    {
        m_groups.resize(::getgroups(0, nullptr));
        if (::getgroups(int(m_groups.size()), m_groups.data()) < 0)
            return;
        m_active = ::setgroups(0, nullptr) == 0 && ::setegid(gid) == 0 && ::seteuid(uid) == 0;
    }
    ~AsUser()
    {
        [[maybe_unused]] const int a = ::seteuid(0);
        [[maybe_unused]] const int b = ::setegid(0);
        [[maybe_unused]] const int c = ::setgroups(m_groups.size(), m_groups.data());
    }
    bool active() const { return m_active; }

private:
    std::vector<gid_t> m_groups;
    bool m_active = false;
};
} // namespace

class TestSerialPty : public QObject
{
    Q_OBJECT

    // Runs events until cond holds or about two seconds pass.
    template <typename F>
    static bool waitFor(F cond)
    {
        QElapsedTimer t;
        t.start();
        while (!cond() && t.elapsed() < 2000)
            QTest::qWait(5);
        return cond();
    }

    static QByteArray readAllFor(QtSerialPortObject &port, qsizetype want)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < want && t.elapsed() < 2000) {
            port.waitForInput(1000);
            got += port.Input();
        }
        return got;
    }

    // The system reports no serial device; each test maps what it opens.
    ComPortMap map{[] { return QList<SystemDevice>{}; }};

private slots:
    void init()
    {
        resetPortSelection();
        map.reset();
    }

    // A settings text is taken whole or refused whole; one that is taken is
    // what the port asks of the device when it opens: rate, character size,
    // parity, one stop bit, no flow control.
    void settingsCheckedAndApplied_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line"); // as asked of the device; empty: refused
        for (const char *rate : {"1200", "2400", "9600", "19200", "38400"}) {
            for (const char *format : {"N,8", "E,7", "O,7"}) {
                const QString text = QStringLiteral("%1,%2,1").arg(QLatin1String(rate), QLatin1String(format));
                // "E,7" is asked as 7 bits, even parity: "7E1".
                const QString line = QLatin1String(rate) + QLatin1Char(' ') + QLatin1Char(format[2]) +
                                     QLatin1Char(format[0]) + QLatin1Char('1');
                QTest::newRow(qPrintable(text)) << text << line;
            }
        }
        QTest::newRow("empty") << "" << "";
        QTest::newRow("odd baud") << "4800,N,8,1" << "";
        QTest::newRow("8 bits with parity") << "9600,E,8,1" << "";
        QTest::newRow("7 bits without parity") << "9600,N,7,1" << "";
        QTest::newRow("two stop bits") << "9600,N,8,2" << "";
        QTest::newRow("small letter") << "9600,n,8,1" << "";
        QTest::newRow("too many fields") << "9600,N,8,1,1" << "";
        QTest::newRow("not a number") << "fast,N,8,1" << "";
    }
    void settingsCheckedAndApplied()
    {
        QFETCH(QString, text);
        QFETCH(QString, line);
        const bool ok = !line.isEmpty();
        QtSerialPortObject port;
        QVERIFY(port.Settings(QStringLiteral("2400,N,8,1")));
        QCOMPARE(port.Settings(text), ok);
        QCOMPARE(port.Settings(), ok ? text : QStringLiteral("2400,N,8,1"));
        if (!ok)
            QVERIFY(port.errorText().contains(QStringLiteral("Invalid port settings")));
        PtyPeer peer;
        QVERIFY(peer.isValid());
        QVERIFY2(port.openDevice(peer.slavePath()), qPrintable(port.errorText()));
        QCOMPARE(peer.requestedLine(), ok ? line : QStringLiteral("2400 8N1"));
    }

    void everyByteValuePassesBothWays()
    {
        PtyPeer peer;
        QVERIFY(peer.isValid());
        QtSerialPortObject port;
        QVERIFY(port.Settings(QStringLiteral("38400,N,8,1")));
        QVERIFY2(port.openDevice(peer.slavePath()), qPrintable(port.errorText()));
        port.RTSEnable(true); // no modem lines on a pseudo-terminal: not an error
        port.DTREnable(true);
        QVERIFY(port.PortOpen());

        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        port.Output(all);
        QVERIFY(waitFor([&] {
            peer.pump();
            return peer.received().size() >= 256;
        }));
        QCOMPARE(peer.received(), all);

        peer.write(all);
        // Input returns everything pending in one read, without events.
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < 256 && t.elapsed() < 2000) {
            port.waitForInput(1000);
            got += port.Input();
        }
        QCOMPARE(got, all);
        QVERIFY(got.contains('\x13') && got.contains('\x11') && got.contains('\r'));
        QCOMPARE(port.Input(), QByteArray()); // nothing pending: empty, at once

        // A read with no events and no wait before it (the drain before an
        // exchange) still takes what the device holds.
        peer.write("late");
        QByteArray late;
        for (int i = 0; i < 400 && late.size() < 4; ++i) {
            QThread::msleep(5);
            late += port.Input();
        }
        QCOMPARE(late, QByteArray("late"));
    }

    void bytesFromBeforeTheOpenAreDropped()
    {
        PtyPeer peer;
        peer.write("stale");
        QtSerialPortObject port;
        QVERIFY(port.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(port.openDevice(peer.slavePath()));
        peer.write("fresh");
        QCOMPARE(readAllFor(port, 5), QByteArray("fresh"));
    }

    // Why a port does not open, in the words the error box shows. The
    // rows that open as an unprivileged user need root to make the device
    // node and an account to switch to: scripts/test.sh creates one and
    // names it in ORNA_TEST_USER. Run as that user instead, the row takes a
    // node prepared by root from ORNA_TEST_ROOT_ONLY_DEVICE.
    void openFailures_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QStringList>("neverSays");
        QTest::newRow("no such device") << "missing" << QStringList{"COM 2", "/dev/does-not-exist-42", "no such device"}
                                        << QStringList{"group"};
        QTest::newRow("no device behind the number") << "unmapped" << QStringList{"COM 5", "no serial device"}
                                                     << QStringList{};
        QTest::newRow("simulator in a program without it")
            << "no-simulator" << QStringList{"COM 4", "simulated converter is not available"} << QStringList{};
        QTest::newRow("held by this program, asked for again through a link")
            << "held-here" << QStringList{"in use", "holds its lock file /var/lock/LCK..", "(pid %self)"}
            << QStringList{"group"};
        QTest::newRow("held with flock by another program") << "flock" << QStringList{"in use", "(pid %holder) holds a lock on it"}
                                                            << QStringList{"group"};
        QTest::newRow("owned by root, mode 0600, opened as a user")
            << "root-only" << QStringList{"permission denied", "user root and group root", "mode 0600 (crw-------)"}
            << QStringList{"usermod", "group \"root\""};
    }
    void openFailures()
    {
        QFETCH(QString, situation);
        QFETCH(QStringList, says);
        QFETCH(QStringList, neverSays);
        PtyPeer peer;
        QVERIFY(peer.isValid());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("orna-line"));
        QVERIFY(QFile::link(peer.slavePath(), link));
        QtSerialPortObject first, port;
        port.usePortMap(&map);
        QVERIFY(first.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(port.Settings(QStringLiteral("9600,N,8,1")));
        pid_t holder = -1;
        auto endHolder = qScopeGuard([&] {
            if (holder > 0) {
                ::kill(holder, SIGKILL);
                ::waitpid(holder, nullptr, 0);
            }
        });

        bool opened = true;
        if (situation == QLatin1String("missing")) {
            map.setDevice(2, QStringLiteral("/dev/does-not-exist-42"));
            port.CommPort(2);
            opened = port.PortOpen(true);
        } else if (situation == QLatin1String("unmapped")) {
            port.CommPort(5);
            opened = port.PortOpen(true);
        } else if (situation == QLatin1String("no-simulator")) {
            map.setSimulator(4);
            QVERIFY(!map.simulatorAvailable());
            port.CommPort(4);
            opened = port.PortOpen(true);
        } else if (situation == QLatin1String("held-here")) {
            QVERIFY2(first.openDevice(peer.slavePath()), qPrintable(first.errorText()));
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("flock")) {
            // A terminal program's way: the device open and flock()ed.
            int ready[2];
            QVERIFY(::pipe(ready) == 0);
            const QByteArray device = QFile::encodeName(peer.slavePath());
            holder = ::fork();
            QVERIFY(holder >= 0);
            if (holder == 0) {
                const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
                const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
                [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
                for (;;)
                    ::pause();
            }
            ::close(ready[1]);
            char ok = 0;
            QCOMPARE(::read(ready[0], &ok, 1), ssize_t(1));
            ::close(ready[0]);
            QCOMPARE(ok, '1');
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("root-only")) {
            QString node = qEnvironmentVariable("ORNA_TEST_ROOT_ONLY_DEVICE");
            std::optional<AsUser> user;
            if (::geteuid() == 0) {
                const QByteArray name = qgetenv("ORNA_TEST_USER");
                const struct passwd *pw = name.isEmpty() ? nullptr : ::getpwnam(name.constData());
                if (!pw)
                    QSKIP("run as root: needs ORNA_TEST_USER naming an unprivileged account (scripts/test.sh makes one)");
                // A device node that the system gives to root alone. (A
                // second node of a pseudo-terminal cannot be opened at all,
                // so it is one of /dev/null's: only the refusal matters.)
                struct stat st{};
                QVERIFY(::stat("/dev/null", &st) == 0);
                QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
                node = dir.filePath(QStringLiteral("ttyRootOnly"));
                const QByteArray native = QFile::encodeName(node);
                QVERIFY(::mknod(native.constData(), S_IFCHR | 0600, st.st_rdev) == 0);
                QVERIFY(::chown(native.constData(), 0, 0) == 0 && ::chmod(native.constData(), 0600) == 0);
                const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (fd < 0)
                    QSKIP("device nodes cannot be opened in the temporary directory (mounted nodev?)");
                ::close(fd);
                user.emplace(pw->pw_uid, pw->pw_gid);
                QVERIFY(user->active());
            } else if (node.isEmpty()) {
                QSKIP("needs root, or ORNA_TEST_ROOT_ONLY_DEVICE naming a device node of root's with mode 0600");
            }
            opened = port.openDevice(node);
        } else {
            QFAIL("unknown situation");
        }

        QVERIFY(!opened);
        QVERIFY(!port.PortOpen());
        QString text = port.errorText();
        for (QString expected : says) {
            expected.replace(QLatin1String("%self"), QString::number(::getpid()));
            expected.replace(QLatin1String("%holder"), QString::number(holder));
            QVERIFY2(text.contains(expected), qPrintable(QStringLiteral("\"%1\" not in: %2").arg(expected, text)));
        }
        for (const QString &unexpected : neverSays)
            QVERIFY2(!text.contains(unexpected), qPrintable(text));
        // Refused means untouched: the line is free again once the holder goes.
        if (holder > 0) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            holder = -1;
            QVERIFY2(port.openDevice(link), qPrintable(port.errorText()));
        }
    }

    // Noticed by the paced wait or by a read alone, once, with the reason.
    void lostLineIsNoticedOnce_data()
    {
        QTest::addColumn<bool>("pacedWait");
        QTest::newRow("paced wait, then read") << true;
        QTest::newRow("read alone") << false;
    }
    void lostLineIsNoticedOnce()
    {
        QFETCH(bool, pacedWait);
        PtyPeer peer;
        QtSerialPortObject port;
        QSignalSpy lost(&port, &PortObject::portLost);
        QVERIFY(port.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(port.openDevice(peer.slavePath()));
        peer.hangUp();
        QElapsedTimer t;
        t.start();
        while (port.PortOpen() && t.elapsed() < 2000) {
            if (pacedWait) { // as the reply wait polls
                port.waitForInput(1000);
                QCoreApplication::processEvents();
            } else {
                QThread::msleep(5);
            }
            port.Input();
        }
        QVERIFY(!port.PortOpen());
        QTest::qWait(50);
        QCOMPARE(lost.size(), 1);
        // The far end of a pseudo-terminal takes its device node with it.
        QCOMPARE(lost.first().first().toString(), QStringLiteral("the device was removed"));
        port.Output("after"); // ignored, no crash
        QCOMPARE(port.Input(), QByteArray());
    }

    // The window through the real serial code: the bytes on the line are
    // exactly the frames, and the reply comes back into the transcript.
    void scpiExchangeEndToEnd()
    {
        PtyPeer peer;
        peer.onData = [&](const QByteArray &chunk) {
            if (chunk.endsWith('\n'))
                peer.write(chunk.startsWith("*idn?") ? QByteArray("Vek,PTY peer,0,1\n>") : QByteArray(">"));
        };
        map.setDevice(1, peer.slavePath());
        FakeSeams seams;
        seams.dialog = [](frmPorts &d) {
            d.optBaud_Click(3);
            d.cmdCOM1_Click();
            d.cmdExit_Click();
        };
        frmMain w(nullptr, &seams, &map);
        w.cmdInit_Click();
        QVERIFY2(w.MSComm1->PortOpen(), qPrintable(w.errorText()));
        QCOMPARE(w.MSComm1->Settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(User::showActive(&w));
        User::typeInto(w.combCmd, QStringLiteral("*idn?"));
        User::key(Qt::Key_Return);
        QCOMPARE(w.resultsText(), QByteArray("Sent *idn?\r\nVek,PTY peer,0,1\r\nPrompt received"));
        w.combCmd->setEditText(QStringLiteral("*cls"));
        w.cmdSend_Click();
        QCOMPARE(w.resultsText(), QByteArray("Sent *cls\r\nPrompt received"));
        w.combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
        w.cmdSend_Click();
        QVERIFY(waitFor([&] { return peer.received().endsWith("SYST:LANG X3.28\nSYST:LANG X3.28"); }));
        QCOMPARE(peer.received(), QByteArray("*idn?\n*cls\nSYST:LANG X3.28\nSYST:LANG X3.28"));
        QCOMPARE(seams.beeps, 0);

        // The far end hangs up: reported once, nothing written afterwards.
        peer.hangUp();
        QVERIFY(waitFor([&] { return !w.MSComm1->PortOpen(); }));
        QVERIFY(w.errorText().contains(QStringLiteral("lost")));
        QCOMPARE(seams.beeps, 1);
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        w.cmdSend_Click();
        QVERIFY(w.errorText().contains(QStringLiteral("closed")));
        QCOMPARE(seams.beeps, 2);
    }
};

QTEST_MAIN(TestSerialPty)
#include "tst_serial_pty.moc"
