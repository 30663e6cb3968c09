// SPDX-License-Identifier: MIT
// The real serial code on a pseudo-terminal: bytes unchanged both ways, line
// settings, open failures (missing, held by another program, no
// permission), a lost line, and one SCPI exchange end to end.

#include "app/SignalExit.h"
#include "session/ExitSignals.h"
#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/DeviceClaim.h"
#include "serial/LineMonitor.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"
#include "serial/SessionLog.h"
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

#include <QDir>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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
        QCOMPARE(readPortFor(port, 5, 2000), QByteArray("fresh"));
    }

    // Why a port does not open, in the words the error box shows. The rows
    // that open as an unprivileged user ("as a user") need root to make the
    // device node, or a lock file the user may not remove, and an account to
    // switch to: scripts/test.sh creates one and names it in ORNA_TEST_USER.
    // Run as that user instead (scripts/serial-as-user.sh, in CI), a row
    // takes a node prepared by root from ORNA_TEST_ROOT_ONLY_DEVICE or
    // ORNA_TEST_GROUP_DEVICE, and skips where none is given. The rows with
    // a holder ("held ...") open as a user too: exclusive mode does not
    // hold root back.
    void openFailures_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QStringList>("neverSays");
        const QStringList noAdvice{"usermod", "group \"", "in use", "line settings"};
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
        QTest::newRow("held in exclusive mode (TIOCEXCL) by another program, opened as a user")
            << "exclusive" << QStringList{"in use by another program", "holds it in exclusive mode"}
            << QStringList{"group", "permission"};
        QTest::newRow("owned by root, mode 0600, opened as a user")
            << "root-only" << QStringList{"permission denied", "user root and group root", "mode 0600 (crw-------)"}
            << QStringList{"usermod", "group \"root\"", "in use"};
        QTest::newRow("owned by a group with rw, opened as a user outside it")
            << "group-rw" << QStringList{"permission denied; add your user to the group \"%group\"", "usermod -aG %group"}
            << QStringList{"in use", "mode 0660"};
        QTest::newRow("stale lock file of a dead process, opened as a user")
            << "stale-lock" << QStringList{"stale lock file", "/var/lock/LCK..", "names process %dead", "no longer runs"}
            << QStringList{"in use", "permission denied"};
        // Lock files are looked for in every folder serial programs use.
        for (const char *folder : {"/tmp", "/var/spool/uucp"})
            QTest::newRow(qPrintable(QStringLiteral("held through a lock file in %1").arg(QLatin1String(folder))))
                << QStringLiteral("lock-in:%1").arg(QLatin1String(folder))
                << QStringList{"in use", QStringLiteral("(pid %holder) holds its lock file %1/LCK..").arg(QLatin1String(folder))}
                << QStringList{"/var/lock"};
        // Not refused: the note says what was done.
        QTest::newRow("stale lock file of a dead process, taken over")
            << "stale-taken" << QStringList{"took over the stale lock file /var/lock/LCK..", "process %dead"}
            << QStringList{};
        QTest::newRow("a regular file") << "regular-file" << QStringList{"not a serial device", "a regular file"}
                                        << noAdvice;
        QTest::newRow("a FIFO") << "fifo" << QStringList{"not a serial device", "a FIFO"} << noAdvice;
        QTest::newRow("/dev/null") << "dev-null" << QStringList{"/dev/null", "not a serial device", "no terminal"}
                                   << noAdvice;
        QTest::newRow("/dev/zero") << "dev-zero" << QStringList{"not a serial device", "no terminal"} << noAdvice;
        QTest::newRow("a directory") << "directory" << QStringList{"not a serial device", "a directory"} << noAdvice;
        QTest::newRow("a name longer than the system allows")
            << "long-name" << QStringList{"too long", "a name in it has 300 characters, at most 255"} << noAdvice;
        QTest::newRow("a path too long for its lock file")
            << "long-lock-name" << QStringList{"too long for its lock file", "at most 255"} << noAdvice;
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
        // Another process opens the device and holds it as `hold` says.
        const auto startHolder = [&](const std::function<bool(int fd)> &hold) {
            int ready[2];
            if (::pipe(ready) != 0)
                return false;
            const QByteArray device = QFile::encodeName(peer.slavePath());
            holder = ::fork();
            if (holder == 0) {
                const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
                const char ok = fd >= 0 && hold(fd) ? '1' : '0';
                [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
                for (;;)
                    ::pause();
            }
            ::close(ready[1]);
            char ok = 0;
            const bool got = holder > 0 && ::read(ready[0], &ok, 1) == 1;
            ::close(ready[0]);
            return got && ok == '1';
        };
        // Root opens as the unprivileged user for what follows (the device
        // given to that user where it is the pseudo-terminal); as that user,
        // nothing changes. False: the row cannot run here.
        std::optional<AsUser> user;
        const struct passwd *pw = nullptr;
        QString skipWhy;
        const auto asUser = [&](bool givePty) {
            if (::geteuid() != 0)
                return true;
            const QByteArray name = qgetenv("ORNA_TEST_USER");
            pw = name.isEmpty() ? nullptr : ::getpwnam(name.constData());
            if (!pw) {
                skipWhy = QStringLiteral("run as root: needs ORNA_TEST_USER naming an unprivileged account "
                                         "(scripts/test.sh makes one)");
                return false;
            }
            if (givePty && ::chown(QFile::encodeName(peer.slavePath()).constData(), pw->pw_uid, pw->pw_gid) != 0)
                return false;
            // The user follows the link in the temporary directory.
            if (::chmod(QFile::encodeName(dir.path()).constData(), 0755) != 0)
                return false;
            user.emplace(pw->pw_uid, pw->pw_gid);
            return user->active();
        };
        // A device node of root's in the temporary directory: /dev/null's
        // (a second node of a pseudo-terminal cannot be opened at all; only
        // the refusal matters).
        const auto rootNode = [&](const QString &name, gid_t gid, mode_t mode) {
            struct stat st{};
            if (::stat("/dev/null", &st) != 0 || ::chmod(QFile::encodeName(dir.path()).constData(), 0755) != 0)
                return QString();
            QString node = dir.filePath(name);
            const QByteArray native = QFile::encodeName(node);
            if (::mknod(native.constData(), S_IFCHR | mode, st.st_rdev) != 0 || ::chown(native.constData(), 0, gid) != 0 ||
                ::chmod(native.constData(), mode) != 0)
                return QString();
            const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0) {
                skipWhy = QStringLiteral("device nodes cannot be opened in the temporary directory (mounted nodev?)");
                return QString();
            }
            ::close(fd);
            return node;
        };
        QString groupName;
        qint64 deadPid = 0;
        QString staleLock;
        auto removeStaleLock = qScopeGuard([&] {
            user.reset(); // root again, who may remove it
            if (!staleLock.isEmpty())
                QFile::remove(staleLock);
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
            QVERIFY(startHolder([](int fd) { return ::flock(fd, LOCK_EX) == 0; }));
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("exclusive")) {
            // Held as this program holds an open line: in exclusive mode.
            QVERIFY(startHolder([](int fd) { return ::ioctl(fd, TIOCEXCL) == 0; }));
            if (!asUser(true))
                QSKIP(qPrintable(skipWhy));
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("root-only") || situation == QLatin1String("group-rw")) {
            const bool rootOnly = situation == QLatin1String("root-only");
            QString node = qEnvironmentVariable(rootOnly ? "ORNA_TEST_ROOT_ONLY_DEVICE" : "ORNA_TEST_GROUP_DEVICE");
            if (::geteuid() == 0) {
                // A group the unprivileged account is not in: the serial
                // devices' own (dialout, 20 on Debian).
                const struct group *dialout = ::getgrnam("dialout");
                const gid_t gid = rootOnly ? 0 : dialout ? dialout->gr_gid : 20;
                node = rootNode(rootOnly ? QStringLiteral("ttyRootOnly") : QStringLiteral("ttyGroupRw"), gid,
                                rootOnly ? 0600 : 0660);
                if (node.isEmpty())
                    QSKIP(skipWhy.isEmpty() ? "cannot make a device node" : qPrintable(skipWhy));
                if (!asUser(false))
                    QSKIP(qPrintable(skipWhy));
            } else if (node.isEmpty()) {
                QSKIP(rootOnly ? "needs root, or ORNA_TEST_ROOT_ONLY_DEVICE naming a device node of root's with mode 0600"
                               : "needs root, or ORNA_TEST_GROUP_DEVICE naming a device node of a group this user is "
                                 "not in, with mode 0660");
            }
            struct stat st{};
            QVERIFY(::stat(QFile::encodeName(node).constData(), &st) == 0);
            if (const struct group *g = ::getgrgid(st.st_gid))
                groupName = QString::fromLocal8Bit(g->gr_name);
            opened = port.openDevice(node);
        } else if (situation.startsWith(QLatin1String("lock-in:"))) {
            const QString folder = situation.mid(8);
            if (!QFileInfo(folder).isDir() && (::geteuid() != 0 || !QDir().mkpath(folder)))
                QSKIP("no such lock folder here, and only root may make it");
            if (!QFileInfo(folder).isWritable())
                QSKIP("this user may not write in that lock folder");
            QVERIFY(startHolder([](int) { return true; }));
            staleLock = folder + QStringLiteral("/LCK..") + QFileInfo(peer.slavePath()).canonicalFilePath().mid(5).replace('/', '_');
            QFile lock(staleLock);
            QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
            lock.write(QByteArray::number(holder).rightJustified(10) + "\n");
            lock.close();
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("stale-lock") || situation == QLatin1String("stale-taken")) {
            if (::geteuid() != 0)
                QSKIP("needs root: the lock folder is root's");
            // A process that has ended, named in a lock file of root's.
            const pid_t gone = ::fork();
            if (gone == 0)
                ::_exit(0);
            QVERIFY(gone > 0 && ::waitpid(gone, nullptr, 0) == gone);
            deadPid = gone;
            staleLock = DeviceClaim::lockFilePath(QFileInfo(peer.slavePath()).canonicalFilePath());
            QFile lock(staleLock);
            QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
            lock.write(QByteArray::number(deadPid).rightJustified(10) + "\n");
            lock.close();
            if (situation == QLatin1String("stale-lock") && !asUser(true))
                QSKIP(qPrintable(skipWhy));
            opened = port.openDevice(link);
        } else if (situation == QLatin1String("regular-file") || situation == QLatin1String("fifo") ||
                   situation == QLatin1String("directory")) {
            const QString path = dir.filePath(QStringLiteral("notATty"));
            if (situation == QLatin1String("regular-file")) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly));
            } else if (situation == QLatin1String("fifo")) {
                QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
            } else {
                QVERIFY(QDir().mkdir(path));
            }
            opened = port.openDevice(path);
        } else if (situation == QLatin1String("dev-null") || situation == QLatin1String("dev-zero")) {
            opened = port.openDevice(situation == QLatin1String("dev-null") ? QStringLiteral("/dev/null")
                                                                             : QStringLiteral("/dev/zero"));
        } else if (situation == QLatin1String("long-name")) {
            map.setDevice(3, dir.filePath(QString(300, QLatin1Char('x'))));
            port.CommPort(3);
            opened = port.PortOpen(true);
        } else if (situation == QLatin1String("long-lock-name")) {
            // A file that exists, at a path of 300 characters in names of
            // 100: the system takes it, a lock file named after it not.
            QString path = dir.path();
            for (int i = 0; i < 3; ++i)
                path += QLatin1Char('/') + QString(100, QLatin1Char('a' + i));
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            opened = port.openDevice(path);
        } else {
            QFAIL("unknown situation");
        }

        const bool takenOver = situation == QLatin1String("stale-taken");
        QCOMPARE(opened, takenOver);
        QCOMPARE(port.PortOpen(), takenOver);
        QString text = takenOver ? port.openNote() : port.errorText();
        qInfo().noquote() << "as uid" << ::geteuid() << "the error box says:" << text;
        for (QString expected : says) {
            expected.replace(QLatin1String("%self"), QString::number(::getpid()));
            expected.replace(QLatin1String("%holder"), QString::number(holder));
            expected.replace(QLatin1String("%group"), groupName);
            expected.replace(QLatin1String("%dead"), QString::number(deadPid));
            QVERIFY2(text.contains(expected), qPrintable(QStringLiteral("\"%1\" not in: %2").arg(expected, text)));
        }
        for (const QString &unexpected : neverSays)
            QVERIFY2(!text.contains(unexpected), qPrintable(text));
        user.reset();
        // Refused means untouched: the line is free again once the holder goes.
        if (holder > 0 && !takenOver) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            holder = -1;
            if (situation == QLatin1String("exclusive"))
                peer.clearExclusive(); // as when the last program closes the device
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

    // Every exchange starts from empty input, however much came unasked:
    // while the line is idle the input is read as it comes (the far end is
    // never held back) and recorded as dropped then; what the driver holds
    // at the drain is read whole and flushed. No stale byte reaches a reply.
    void unsolicitedInputNeverReachesAReply_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("idle"); // events run before the exchange
        QTest::newRow("12,000 bytes, idle") << 12000 << true;
        QTest::newRow("100,000 bytes, idle") << 100000 << true;
        QTest::newRow("a stopped 400 KB stream, idle") << 400000 << true;
        QTest::newRow("12,000 bytes in the driver at the drain") << 12000 << false;
    }
    void unsolicitedInputNeverReachesAReply()
    {
        QFETCH(int, bytes);
        QFETCH(bool, idle);
        PtyPeer peer;
        peer.onData = [&](const QByteArray &chunk) {
            if (chunk.endsWith('\n'))
                peer.write(QByteArray("Vek,PTY peer,0,1\n>"));
        };
        map.setDevice(1, peer.slavePath());
        FakeSeams seams;
        seams.dialog = [](frmPorts &d) {
            d.cmdCOM1_Click();
            d.cmdExit_Click();
        };
        frmMain w(nullptr, &seams, &map);
        w.cmdInit_Click();
        QVERIFY2(w.MSComm1->PortOpen(), qPrintable(w.errorText()));
        QByteArray junk(bytes, 'j');
        for (int i = 0; i < bytes; i += 97)
            junk[i] = '\n'; // a terminator among them, as a stray reply has
        const auto dropped = [&] {
            qsizetype n = 0;
            const LineMonitor &m = w.lineMonitor();
            for (quint64 seq = m.firstSeq(); seq <= m.lastSeq(); ++seq)
                if (const MonitorRecord *r = m.find(seq); r && r->kind == MonitorRecord::Drop)
                    n += r->bytes.size();
            return n;
        };
        if (idle) {
            peer.writeQueued(junk);
            QVERIFY2(waitFor([&] { return peer.queued() == 0 && dropped() == bytes; }),
                     qPrintable(QStringLiteral("%1 bytes held back, %2 recorded").arg(peer.queued()).arg(dropped())));
        } else {
            peer.write(junk);
        }
        QVERIFY(User::showActive(&w));
        User::typeInto(w.combCmd, QStringLiteral("*idn?"));
        User::key(Qt::Key_Return);
        QCOMPARE(w.resultsText(), QByteArray("Sent *idn?\r\nVek,PTY peer,0,1\r\nPrompt received"));
        QCOMPARE(dropped(), qsizetype(bytes));
    }

    // A signal ends the program as Exit does, after the exchange in
    // progress: DLE ENQ, the port closed and its lock released, the log
    // finished; the exit status tells the signal. With the port dialog up,
    // nothing is opened once the dialog returns.
    void exitOnSignal_data()
    {
        QTest::addColumn<int>("signo");
        QTest::addColumn<QString>("when");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("SIGTERM, idle") << SIGTERM << "idle" << QByteArray("\x10\x05");
        QTest::newRow("SIGINT, during a wait") << SIGINT << "wait" << QByteArray("*idn?\n\x10\x05");
        QTest::newRow("SIGHUP, port dialog up") << SIGHUP << "dialog" << QByteArray();
    }
    void exitOnSignal()
    {
        QFETCH(int, signo);
        QFETCH(QString, when);
        QFETCH(QByteArray, written);
        PtyPeer peer;
        map.setDevice(1, peer.slavePath());
        FakeSeams seams;
        QTemporaryDir logs;
        seams.folderAnswers << logs.path();
        frmMain w(nullptr, &seams, &map);
        ExitSignals exitSignals;
        exitOnSignals(exitSignals, w);
        w.actLogContinuously->trigger();
        seams.dialog = [&](frmPorts &d) {
            d.cmdCOM1_Click();
            if (when == QLatin1String("dialog")) {
                ::raise(signo);
                QTest::qWait(20);
            }
            d.cmdExit_Click();
        };
        w.cmdInit_Click();
        QStringList locks; // the device's lock files while the line is open
        if (w.MSComm1->PortOpen()) {
            for (const char *dir : {"/var/lock", "/tmp"})
                if (const QString f = QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), peer.slavePath().mid(5).replace('/', '_'));
                    QFileInfo::exists(f))
                    locks << f;
        }
        if (when == QLatin1String("wait")) {
            peer.onData = [&](const QByteArray &chunk) {
                if (chunk == "*idn?\n")
                    ::raise(signo);
            };
            w.combCmd->setEditText(QStringLiteral("*idn?"));
            w.cmdSend_Click();
        } else if (when == QLatin1String("idle")) {
            ::raise(signo);
        }
        QVERIFY(waitFor([&] { return seams.programEnds == 1; }));
        QCOMPARE(exitSignals.exitStatus(0), 128 + signo);
        QVERIFY(!w.MSComm1->PortOpen());
        QVERIFY(waitFor([&] {
            peer.pump();
            return peer.received() == written;
        }));
        for (const QString &f : locks)
            QVERIFY2(!QFileInfo::exists(f), qPrintable(f));
        QVERIFY(!w.sessionLog().active());
        const QStringList files = QDir(logs.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), when == QLatin1String("dialog") ? 0 : 1);
        if (!files.isEmpty()) {
            QFile f(logs.filePath(files.first()));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray text = f.readAll();
            QVERIFY2(text.trimmed().endsWith("\tCLOSE\t-"), text.constData());
        }
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

        // The far end stops reading; once its input is full, a write it
        // cannot take is refused as not queued, said once, and the line
        // stays open (no loss). When it reads again, the next exchange works.
        peer.setReading(false);
        QSignalSpy lost(w.MSComm1, &PortObject::portLost);
        // The kernel moves bytes on towards the far end's side a moment
        // after a refusal, so the line is full only once even one byte finds
        // no room after a pause.
        bool full = false;
        for (int round = 0; round < 100 && !full; ++round) {
            for (int i = 0; i < 64 && w.MSComm1->Output(QByteArray(4096, 'z')); ++i) {
            }
            QTest::qWait(20);
            full = !w.MSComm1->Output(QByteArray(1, 'z'));
        }
        QVERIFY(full);
        QVERIFY2(w.MSComm1->errorText().contains(QStringLiteral("could not be queued")),
                 qPrintable(w.MSComm1->errorText()));
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        User::key(Qt::Key_Return);
        QVERIFY2(w.errorText().contains(QStringLiteral("the write could not be queued")) &&
                     w.errorText().contains(QStringLiteral("the line stays open")) && !w.errorText().contains('\n'),
                 qPrintable(w.errorText()));
        QCOMPARE(seams.beeps, 1);
        QVERIFY(w.MSComm1->PortOpen());
        QCOMPARE(w.resultsText(), QByteArray("Sent *cls\r\nPrompt received")); // nothing shown as sent
        QTest::qWait(50);
        QCOMPARE(lost.size(), 0);
        // What went out, the first part of a refused write included, is what
        // the line monitor holds as sent, byte for byte.
        QByteArray recorded;
        const LineMonitor &monitor = w.lineMonitor();
        for (quint64 seq = monitor.firstSeq(); seq <= monitor.lastSeq(); ++seq) {
            if (const MonitorRecord *r = monitor.find(seq); r && r->kind == MonitorRecord::Tx)
                recorded += r->bytes;
        }
        peer.setReading(true);
        QVERIFY(waitFor([&] {
            peer.pump();
            return peer.received().size() >= recorded.size();
        }));
        QTest::qWait(20);
        peer.pump();
        QCOMPARE(peer.received().size(), recorded.size());
        QVERIFY(peer.received() == recorded);
        peer.clearReceived();
        seams.beeps = 0;
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        User::key(Qt::Key_Return);
        QCOMPARE(w.resultsText(), QByteArray("Sent *idn?\r\nVek,PTY peer,0,1\r\nPrompt received"));
        QVERIFY(!w.errorShown());
        QCOMPARE(peer.received(), QByteArray("*idn?\n"));
        w.combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
        w.cmdSend_Click();
        QVERIFY(waitFor([&] { return peer.received().endsWith("SYST:LANG X3.28\nSYST:LANG X3.28"); }));
        QCOMPARE(peer.received(), QByteArray("*idn?\nSYST:LANG X3.28\nSYST:LANG X3.28"));
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
