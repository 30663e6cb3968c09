// The real serial code on a pseudo-terminal: bytes unchanged both ways, line
// settings, open failures, a lost line, and one SCPI exchange end to end.

#include "app/TranscriptBox.h"
#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"
#include "serial/frmPorts.h"
#include "support/FakeSeams.h"
#include "support/PtyPeer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

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

private slots:
    void init()
    {
        resetPortSelection();
        ComPortMap::setDeviceLister([] { return QList<SystemDevice>{}; });
        ComPortMap::instance().reset();
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

    void openFailures()
    {
        // A device that does not exist.
        ComPortMap::instance().setDevice(2, QStringLiteral("/dev/does-not-exist-42"));
        QtSerialPortObject port;
        port.CommPort(2);
        QVERIFY(port.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(!port.PortOpen(true));
        QVERIFY(!port.PortOpen());
        QVERIFY(port.errorText().contains(QStringLiteral("COM 2")));
        QVERIFY(port.errorText().contains(QStringLiteral("/dev/does-not-exist-42")));
        QVERIFY(port.errorText().contains(QStringLiteral("no such device")));

        // A port number with no device behind it.
        port.CommPort(5);
        QVERIFY(!port.PortOpen(true));
        QVERIFY(port.errorText().contains(QStringLiteral("COM 5")));
        QVERIFY(port.errorText().contains(QStringLiteral("no serial device")));

        // A number pointed at the simulated converter in a program without it.
        ComPortMap::instance().setSimulator(4);
        QVERIFY(!ComPortMap::simulatorAvailable());
        port.CommPort(4);
        QVERIFY(!port.PortOpen(true));
        QVERIFY(port.errorText().contains(QStringLiteral("COM 4")));
        QVERIFY(port.errorText().contains(QStringLiteral("simulated converter is not available")));

        // A device held by another program: no group hint then.
        PtyPeer peer;
        QtSerialPortObject first, second;
        QVERIFY(first.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(second.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY(first.openDevice(peer.slavePath()));
        QVERIFY(!second.openDevice(peer.slavePath()));
        QVERIFY2(second.errorText().contains(QStringLiteral("in use")), qPrintable(second.errorText()));
        QVERIFY(!second.errorText().contains(QStringLiteral("group")));
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
        ComPortMap::instance().setDevice(1, peer.slavePath());
        FakeSeams seams;
        seams.dialog = [](frmPorts &d) {
            d.optBaud_Click(3);
            d.cmdCOM1_Click();
            d.cmdExit_Click();
        };
        frmMain w(nullptr, &seams);
        w.cmdInit_Click();
        QVERIFY2(w.MSComm1->PortOpen(), qPrintable(w.errorText()));
        QCOMPARE(w.MSComm1->Settings(), QStringLiteral("19200,N,8,1"));
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        QTest::keyClick(w.combCmd->lineEdit(), Qt::Key_Return);
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
