// SPDX-License-Identifier: MIT
// The stand-in converter's Xon/Xoff line language, including how its
// replies are spread out in time.

#include "sim/engine/OrnaEngine.h"

#include <QtTest>

namespace {
const char XON = 0x11, XOFF = 0x13;

struct Rig {
    explicit Rig(const SimConfig &cfg = SimConfig()) : engine(cfg)
    {
        send("SYST:LANG XonXoff\nSYST:LANG XonXoff");
    }
    QList<SimOut> sendTimed(const QByteArray &bytes, double advance = 0.1)
    {
        t += advance;
        engine.receive(bytes, t);
        return engine.takeDue(std::numeric_limits<double>::infinity());
    }
    QByteArray send(const QByteArray &bytes, double advance = 0.1)
    {
        QByteArray out;
        for (const SimOut &o : sendTimed(bytes, advance))
            out += o.bytes;
        return out;
    }
    OrnaEngine engine;
    double t = 0.0;
};
} // namespace

class TestSimXonXoff : public QObject
{
    Q_OBJECT
private slots:
    void commandGetsXoffThenXon_data();
    void commandGetsXoffThenXon();
    void queryGetsXoffXonValueCr();
    void unknownQueryGetsNoValue();
    void xonArrivesAfterTheBusyTime();
    void talksToTheLastLinkedController();
    void escapeAndEmptyLines();
};

void TestSimXonXoff::commandGetsXoffThenXon_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<double>("setPoint");
    QTest::newRow("good") << QByteArray("= SP1 100\r") << 100.0;
    QTest::newRow("CR LF") << QByteArray("= sp1 42\r\n") << 42.0;
    QTest::newRow("after a host's DLE ENQ on leaving") << QByteArray("\x10\x05= SP1 50\r") << 50.0;
    // This language has no error answer: a bad command looks the same.
    QTest::newRow("read-only") << QByteArray("= C1 100\r") << 75.0;
    QTest::newRow("unknown") << QByteArray("= XX 1\r") << 75.0;
    QTest::newRow("out of range") << QByteArray("= SP1 99999\r") << 75.0;
    QTest::newRow("garbage") << QByteArray("hello\r") << 75.0;
}

void TestSimXonXoff::commandGetsXoffThenXon()
{
    QFETCH(QByteArray, line);
    QFETCH(double, setPoint);
    Rig rig;
    QCOMPARE(rig.send(line), QByteArray() + XOFF + XON);
    QCOMPARE(rig.engine.controller(1)->setPoint(), setPoint);
}

void TestSimXonXoff::queryGetsXoffXonValueCr()
{
    Rig rig;
    QCOMPARE(rig.send("? SP1\r"), QByteArray() + XOFF + XON + "75.0\r");
    const QByteArray pv = rig.send("? c1\r");
    QVERIFY(pv.startsWith(QByteArray() + XOFF + XON));
    QVERIFY(pv.endsWith('\r'));
    bool ok = false;
    pv.mid(2).chopped(1).toDouble(&ok);
    QVERIFY(ok);
}

void TestSimXonXoff::unknownQueryGetsNoValue()
{
    Rig rig;
    QCOMPARE(rig.send("? NOPE\r"), QByteArray() + XOFF + XON);
    QCOMPARE(rig.send("?\r"), QByteArray() + XOFF + XON);
}

void TestSimXonXoff::xonArrivesAfterTheBusyTime()
{
    // 1200 baud 8N1: 10 bits a character, 8.33 ms each.
    SimConfig cfg;
    cfg.line.baud = 1200;
    cfg.turnaroundMs = 3.0;
    cfg.busyMs = 50.0;
    Rig rig(cfg);
    const double sent = rig.t + 0.1;
    const QList<SimOut> out = rig.sendTimed("? SP1\r");
    QCOMPARE(out.size(), 2);
    QCOMPARE(out[0].bytes, QByteArray(1, XOFF));
    const double c = 10.0 / 1200.0;
    QVERIFY(qAbs(out[0].time - (sent + 0.003 + c)) < 1e-9);
    QCOMPARE(out[1].bytes, QByteArray() + XON + "75.0\r");
    QVERIFY(qAbs(out[1].time - (sent + 0.003 + c + 0.050 + c)) < 1e-9);

    // Taken piece by piece, the lone XOFF is all there is during the busy time.
    rig.t += 1.0;
    rig.engine.receive("? SP1\r", rig.t);
    QCOMPARE(rig.engine.takeDue(rig.t + 0.003 + c).value(0).bytes, QByteArray(1, XOFF));
    QVERIFY(rig.engine.takeDue(rig.t + 0.040).isEmpty());
    QCOMPARE(rig.engine.nextDueTime(), rig.t + 0.003 + c + 0.050 + c);
}

void TestSimXonXoff::talksToTheLastLinkedController()
{
    SimConfig cfg;
    cfg.controllers = {{1, SimModel::EzZone}, {5, SimModel::EzZone}};
    Rig rig(cfg);
    // Without any link the first controller answers.
    QCOMPARE(rig.send("= SP1 11\r"), QByteArray() + XOFF + XON);
    QCOMPARE(rig.engine.controller(1)->setPoint(), 11.0);

    rig.send("@@@SYST:LANG X3.28\nSYST:LANG X3.28");
    QCOMPARE(rig.send("5\x05"), QByteArray("5\x06"));
    rig.send("@@@SYST:LANG XonXoff\nSYST:LANG XonXoff");
    QCOMPARE(rig.engine.language(), SimLanguage::XonXoff);
    QCOMPARE(rig.send("= SP1 55\r"), QByteArray() + XOFF + XON);
    QCOMPARE(rig.engine.controller(5)->setPoint(), 55.0);
    QCOMPARE(rig.engine.controller(1)->setPoint(), 11.0);
}

void TestSimXonXoff::escapeAndEmptyLines()
{
    Rig rig;
    QCOMPARE(rig.send("\r"), QByteArray());
    QCOMPARE(rig.send("\r\n"), QByteArray());
    QCOMPARE(rig.send("= SP1 5@@@"), QByteArray()); // the partial line goes with the escape
    QCOMPARE(rig.engine.language(), SimLanguage::Scpi);
    QCOMPARE(rig.engine.controller(1)->setPoint(), 75.0);
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("0\n>"));
}

QTEST_APPLESS_MAIN(TestSimXonXoff)
#include "tst_sim_xonxoff.moc"
