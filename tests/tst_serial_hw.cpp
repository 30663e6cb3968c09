// SPDX-License-Identifier: MIT
// Real serial hardware, when a port pair is given: every byte value makes
// the round trip unchanged (7-bit formats: its low seven bits) at every baud
// rate and character format the program offers. Pseudo-terminals ignore
// parity and 7-bit framing, so only hardware shows that 7E1 and 7O1 are set
// as asked on both sides; they have no modem lines either, so only hardware
// shows RTS and DTR asserted while the port is open. Without ports the test
// skips.
//
//   ORNA_TEST_PORT_A=/dev/ttyUSB0 ORNA_TEST_PORT_B=/dev/ttyUSB1 ctest -R tst_serial_hw
//       two ports joined by a null-modem cable
//   ORNA_TEST_PORT_A=/dev/ttyUSB0 ctest -R tst_serial_hw
//       one port with a loopback plug (TX joined to RX)

#include "serial/QtSerialPortObject.h"
#include "support/PtyPeer.h"

#include <QFile>
#include <QTest>

#include <memory>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

class TestSerialHardware : public QObject
{
    Q_OBJECT

    static QString portA() { return qEnvironmentVariable("ORNA_TEST_PORT_A"); }
    static QString portB() { return qEnvironmentVariable("ORNA_TEST_PORT_B"); }

private slots:
    void initTestCase()
    {
        if (portA().isEmpty())
            QSKIP("no serial hardware given: set ORNA_TEST_PORT_A (and ORNA_TEST_PORT_B for a pair; "
                  "without it, port A needs a loopback plug)");
    }

    // RTS and DTR go up when asked while the port is open, and down again.
    // The one test that sees them: a pseudo-terminal has no modem lines.
    void modemLinesAsserted()
    {
        // Opened first: the port holds the device in exclusive mode once open.
        const int fd = ::open(QFile::encodeName(portA()).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        QVERIFY(fd >= 0);
        QtSerialPortObject a;
        QVERIFY(a.Settings(QStringLiteral("9600,N,8,1")));
        QVERIFY2(a.openDevice(portA()), qPrintable(a.errorText()));
        for (bool on : {true, false, true}) {
            a.RTSEnable(on);
            a.DTREnable(on);
            int lines = 0;
            QVERIFY(::ioctl(fd, TIOCMGET, &lines) == 0);
            QCOMPARE(bool(lines & TIOCM_RTS), on);
            QCOMPARE(bool(lines & TIOCM_DTR), on);
        }
        ::close(fd);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("settings");
        for (const char *baud : {"1200", "2400", "9600", "19200", "38400"})
            for (const char *format : {"N,8,1", "E,7,1", "O,7,1"})
                QTest::newRow(qPrintable(QStringLiteral("%1,%2").arg(QLatin1String(baud), QLatin1String(format))))
                    << QStringLiteral("%1,%2").arg(QLatin1String(baud), QLatin1String(format));
    }
    void roundTrip()
    {
        QFETCH(QString, settings);
        QtSerialPortObject a;
        QVERIFY(a.Settings(settings));
        QVERIFY2(a.openDevice(portA()), qPrintable(a.errorText()));
        std::unique_ptr<QtSerialPortObject> ownB;
        QtSerialPortObject *b = &a; // a loopback plug: port A hears itself
        if (!portB().isEmpty()) {
            ownB = std::make_unique<QtSerialPortObject>();
            b = ownB.get();
            QVERIFY(b->Settings(settings));
            QVERIFY2(b->openDevice(portB()), qPrintable(b->errorText()));
        }
        const bool sevenBits = settings.contains(QLatin1String(",7,"));
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        QByteArray expected = all;
        if (sevenBits)
            for (char &c : expected)
                c = char(c & 0x7F);
        // Both ways where there are two ports.
        const QList<std::pair<QtSerialPortObject *, QtSerialPortObject *>> ways =
            b == &a ? QList<std::pair<QtSerialPortObject *, QtSerialPortObject *>>{{&a, &a}}
                    : QList<std::pair<QtSerialPortObject *, QtSerialPortObject *>>{{&a, b}, {b, &a}};
        for (const auto &[from, to] : ways) {
            to->Input(); // nothing stale
            QVERIFY2(from->Output(all), qPrintable(from->errorText()));
            const QByteArray got = readPortFor(*to, expected.size(), 1000);
            QCOMPARE(got.size(), expected.size());
            for (int i = 0; i < expected.size(); ++i)
                QVERIFY2(got.at(i) == expected.at(i),
                         qPrintable(QStringLiteral("byte %1 sent %2, received %3 (%4 -> %5)")
                                        .arg(i)
                                        .arg(uchar(all.at(i)))
                                        .arg(uchar(got.at(i)))
                                        .arg(from->deviceName(), to->deviceName())));
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialHardware)
#include "tst_serial_hw.moc"
