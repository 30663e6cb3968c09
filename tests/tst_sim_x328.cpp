// SPDX-License-Identifier: MIT
// The stand-in converter's X3.28 language (subcategories 2.2/A3, no
// checksum) and the controllers behind it.

#include "sim/engine/OrnaEngine.h"

#include <QtTest>

namespace {
const QByteArray STX("\x02"), ETX("\x03"), EOT("\x04"), ENQ("\x05"), ACK("\x06"), CR("\r"),
    DLE("\x10"), NAK("\x15");

QByteArray select(const QByteArray &text) { return STX + "= " + text + ETX; }
QByteArray poll(const QByteArray &text) { return STX + "? " + text + ETX; }

struct Rig {
    explicit Rig(const SimConfig &cfg = SimConfig()) : engine(cfg)
    {
        send("SYST:LANG X3.28\n");
        send("SYST:LANG X3.28");
    }
    QByteArray send(const QByteArray &bytes, double advance = 0.1)
    {
        t += advance;
        engine.receive(bytes, t);
        QByteArray out;
        for (const SimOut &o : engine.takeDue(std::numeric_limits<double>::infinity()))
            out += o.bytes;
        return out;
    }
    // The whole poll as the program runs it; returns the data between STX and CR.
    QByteArray pollValue(const QByteArray &mnemonic, double advance = 0.1)
    {
        if (send(poll(mnemonic), advance) != ACK)
            return "no ACK";
        const QByteArray block = send(EOT);
        if (!block.startsWith(STX) || !block.endsWith(CR + ETX))
            return "bad block";
        if (send(ACK) != EOT)
            return "no EOT";
        return block.mid(1, block.size() - 3);
    }
    OrnaEngine engine;
    double t = 0.0;
};

SimConfig withControllers(const QList<SimControllerConfig> &controllers, SimStartTable table = SimStartTable::EzZoneExamples)
{
    SimConfig cfg;
    cfg.controllers = controllers;
    cfg.startTable = table;
    cfg.rippleAmplitude = 0.0;
    return cfg;
}
} // namespace

class TestSimX328 : public QObject
{
    Q_OBJECT
private slots:
    void linkOpensOnlyAtAControllersAddress_data();
    void linkOpensOnlyAtAControllersAddress();
    void framesWithoutLinkAreSilent();
    void selectionAcksOnlyWritableInRangeValues_data();
    void selectionAcksOnlyWritableInRangeValues();
    void pollRunsAckEotBlockAckEot();
    void pollRepeatsBlockOnNakAndRefusesUnknown();
    void disconnectAndOtherAddressCloseTheLink();
    void escapeReturnsToScpiAndLinkSurvives();
    void strayBytesAreIgnored();
    void f4ControllerUsesTenthsAndModelRegister();
    void processValueFollowsSetPoint();
    void sevenBitFormatStripsTheEighthBit();
};

void TestSimX328::linkOpensOnlyAtAControllersAddress_data()
{
    QTest::addColumn<QByteArray>("open");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("link");
    QTest::newRow("5") << QByteArray("5") + ENQ << QByteArray("5") + ACK << 5;
    QTest::newRow("leading zero as typed") << QByteArray("05") + ENQ << QByteArray("5") + ACK << 5;
    QTest::newRow("leading blank as typed") << QByteArray(" 1") + ENQ << QByteArray("1") + ACK << 1;
    QTest::newRow("12 as the letter C") << QByteArray("C") + ENQ << QByteArray("C") + ACK << 12;
    QTest::newRow("nobody at 3") << QByteArray("3") + ENQ << QByteArray() << -1;
    QTest::newRow("nobody at 0") << QByteArray("0") + ENQ << QByteArray() << -1;
    QTest::newRow("small letter is no address") << QByteArray("c") + ENQ << QByteArray() << -1;
    QTest::newRow("ENQ alone") << ENQ << QByteArray() << -1;
}

void TestSimX328::linkOpensOnlyAtAControllersAddress()
{
    QFETCH(QByteArray, open);
    QFETCH(QByteArray, reply);
    QFETCH(int, link);
    Rig rig(withControllers({{1, SimModel::EzZone}, {5, SimModel::EzZone}, {12, SimModel::F4}}));
    QCOMPARE(rig.send(open), reply);
    QCOMPARE(rig.engine.linkAddress(), link);
}

void TestSimX328::framesWithoutLinkAreSilent()
{
    Rig rig;
    QCOMPARE(rig.send(poll("C1")), QByteArray());
    QCOMPARE(rig.send(select("SP1 100")), QByteArray());
    QCOMPARE(rig.send(EOT), QByteArray());
    // The selection was not carried out.
    QCOMPARE(rig.engine.controller(5)->setPoint(), 75.0);
}

void TestSimX328::selectionAcksOnlyWritableInRangeValues_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("setPoint");
    QTest::newRow("SP1 100") << select("SP1 100") << ACK << 100.0;
    QTest::newRow("lower case, decimals") << select("sp1 62.5") << ACK << 62.5;
    QTest::newRow("CR before ETX") << STX + "= SP1 60" + CR + ETX << ACK << 60.0;
    QTest::newRow("negative") << select("SP1 -20") << ACK << -20.0;
    QTest::newRow("lower bound") << select("SP1 -1999") << ACK << -1999.0;
    QTest::newRow("read-only C1") << select("C1 100") << NAK << 75.0;
    QTest::newRow("read-only SP9") << select("SP9 1") << NAK << 75.0;
    QTest::newRow("unknown mnemonic") << select("SP2 100") << NAK << 75.0;
    QTest::newRow("no value") << select("SP1") << NAK << 75.0;
    QTest::newRow("not a number") << select("SP1 hot") << NAK << 75.0;
    QTest::newRow("above range") << select("SP1 10000") << NAK << 75.0;
    QTest::newRow("two values") << select("SP1 1 2") << NAK << 75.0;
    QTest::newRow("no prefix") << STX + "SP1 100" + ETX << NAK << 75.0;
}

void TestSimX328::selectionAcksOnlyWritableInRangeValues()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(double, setPoint);
    Rig rig;
    QCOMPARE(rig.send(QByteArray("5") + ENQ), QByteArray("5") + ACK);
    QCOMPARE(rig.send(frame), reply);
    QCOMPARE(rig.engine.controller(5)->setPoint(), setPoint);
    QCOMPARE(rig.engine.controller(1)->setPoint(), 75.0); // only the linked controller
    if (reply == ACK)
        QCOMPARE(rig.pollValue("SP1"), QByteArray::number(setPoint, 'f', 1));
}

void TestSimX328::pollRunsAckEotBlockAckEot()
{
    Rig rig(withControllers({{5, SimModel::EzZone}}));
    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send(poll("C1")), ACK);
    const QByteArray block = rig.send(EOT);
    QVERIFY2(block.startsWith(STX) && block.endsWith(CR + ETX), qPrintable(simNameBytes(block)));
    bool ok = false;
    const double pv = block.mid(1, block.size() - 3).toDouble(&ok);
    QVERIFY(ok);
    QVERIFY(pv > 21.0 && pv < 75.0); // on its way from room temperature to the set point
    QVERIFY(block.mid(1).contains('.'));
    QCOMPARE(rig.send(ACK), EOT);
    // After the closing EOT further host bytes start nothing.
    QCOMPARE(rig.send(ACK), QByteArray());
    QCOMPARE(rig.send(EOT), QByteArray());
    // The link stays open for the next poll, and mnemonics ignore case.
    QVERIFY(rig.pollValue("c1").toDouble() > pv);
}

void TestSimX328::pollRepeatsBlockOnNakAndRefusesUnknown()
{
    Rig rig;
    rig.send(QByteArray("1") + ENQ);
    QCOMPARE(rig.send(poll("SP1")), ACK);
    const QByteArray block = rig.send(EOT);
    QCOMPARE(block, STX + "75.0" + CR + ETX);
    QCOMPARE(rig.send(NAK), block);
    QCOMPARE(rig.send(NAK), block);
    QCOMPARE(rig.send(ACK), EOT);

    QCOMPARE(rig.send(poll("XYZ")), NAK);
    QCOMPARE(rig.send(EOT), QByteArray()); // nothing to hand over
    QCOMPARE(rig.send(poll("")), NAK);
    // A CR before ETX is tolerated in a poll too.
    QCOMPARE(rig.send(STX + "? SP1" + CR + ETX), ACK);
    // A new frame abandons a poll that waits for EOT.
    QCOMPARE(rig.send(select("SP1 80")), ACK);
    QCOMPARE(rig.send(EOT), QByteArray());
}

void TestSimX328::disconnectAndOtherAddressCloseTheLink()
{
    Rig rig;
    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send(DLE + ENQ), QByteArray());
    QCOMPARE(rig.engine.linkAddress(), -1);
    QCOMPARE(rig.send(poll("C1")), QByteArray());

    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send(DLE + EOT), QByteArray());
    QCOMPARE(rig.send(select("SP1 50")), QByteArray());

    // Addressing a device that is not there leaves no link behind.
    QCOMPARE(rig.send(QByteArray("1") + ENQ), QByteArray("1") + ACK);
    QCOMPARE(rig.send(QByteArray("7") + ENQ), QByteArray());
    QCOMPARE(rig.send(poll("C1")), QByteArray());

    // A new link during a poll ends the poll: an EOT then asks for nothing.
    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send(poll("C1")), ACK);
    QCOMPARE(rig.send(QByteArray("5") + ENQ), QByteArray("5") + ACK);
    QCOMPARE(rig.send(EOT), QByteArray());

    // DLE and ENQ split over two reads still close the link.
    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send(DLE), QByteArray());
    QCOMPARE(rig.send(ENQ), QByteArray());
    QCOMPARE(rig.engine.linkAddress(), -1);
}

void TestSimX328::escapeReturnsToScpiAndLinkSurvives()
{
    Rig rig;
    rig.send(QByteArray("5") + ENQ);
    QCOMPARE(rig.send("@@@"), QByteArray());
    QCOMPARE(rig.engine.language(), SimLanguage::Scpi);
    QVERIFY(rig.send("*IDN?\n").startsWith("Vek,"));
    // Back in X3.28 the converter still talks to the device it was linked to.
    rig.send("SYST:LANG X3.28\nSYST:LANG X3.28");
    QCOMPARE(rig.send(select("SP1 90")), ACK);
    QCOMPARE(rig.engine.controller(5)->setPoint(), 90.0);
    // The escape also ends a frame that was never finished.
    rig.send(STX + "= SP1 1");
    rig.send("@@@");
    QCOMPARE(rig.engine.language(), SimLanguage::Scpi);
    QCOMPARE(rig.engine.controller(5)->setPoint(), 90.0);
}

void TestSimX328::strayBytesAreIgnored()
{
    Rig rig;
    QStringList notes;
    rig.engine.setFrameHook([&](const SimFrame &f) {
        if (f.kind == SimFrame::FromHost)
            notes << simNameBytes(f.bytes) + ' ' + f.note;
    });
    QCOMPARE(rig.send("xyz"), QByteArray());
    QCOMPARE(rig.send(QByteArray("5") + ENQ), QByteArray("5") + ACK);
    QCOMPARE(notes, QStringList({"xyz ignored", "5<ENQ> "}));
}

void TestSimX328::f4ControllerUsesTenthsAndModelRegister()
{
    Rig rig(withControllers({{3, SimModel::F4}}, SimStartTable::F4Examples));
    rig.send(QByteArray("3") + ENQ);
    QCOMPARE(rig.pollValue("ID"), QByteArray("5270"));
    QCOMPARE(rig.pollValue("SP1"), QByteArray("75.0"));
    QCOMPARE(rig.send(select("SP1 123.4")), ACK);
    QCOMPARE(rig.pollValue("SP1"), QByteArray("123.4"));
    // 16 bits with one decimal end at 3276.7.
    QCOMPARE(rig.send(select("SP1 3276.7")), ACK);
    QCOMPARE(rig.send(select("SP1 3276.8")), NAK);
    QCOMPARE(rig.send(select("ID 1")), NAK);
    const QByteArray pv = rig.pollValue("C1");
    QVERIFY2(QRegularExpression("^\\d+\\.\\d$").match(QString::fromLatin1(pv)).hasMatch(), pv.constData());

    // The EZ-Zone table read from an F4: registers it does not use read 0.
    rig.send("@@@");
    rig.send("ASSIGN:ANSI 4,TEST,2160,2160,0,0\n");
    rig.send("SYST:LANG X3.28\n");
    QCOMPARE(rig.pollValue("TEST"), QByteArray("0"));
}


void TestSimX328::processValueFollowsSetPoint()
{
    // First-order lag with a 10 s time constant, from 21.0 toward 75.0.
    SimConfig cfg = withControllers({{5, SimModel::EzZone}});
    cfg.tauSeconds = 10.0;
    Rig rig(cfg);
    rig.send(QByteArray("5") + ENQ);
    double last = rig.pollValue("C1").toDouble();
    for (int i = 0; i < 5; ++i) {
        const double pv = rig.pollValue("C1", 2.0).toDouble();
        QVERIFY2(pv > last && pv < 75.0, qPrintable(QString::number(pv)));
        last = pv;
    }
    // After one time constant from the start about 63 % of the way.
    Rig fresh(cfg);
    fresh.send(QByteArray("5") + ENQ);
    const double atTau = fresh.pollValue("C1", 10.0 - fresh.t).toDouble();
    QVERIFY2(qAbs(atTau - (21.0 + 54.0 * 0.632)) < 1.0, qPrintable(QString::number(atTau)));
    // Long after, it sits on the set point; a new set point turns it round.
    QCOMPARE(fresh.pollValue("C1", 300.0), QByteArray("75.0"));
    // A write to another register leaves the process value alone.
    fresh.send("@@@ASSIGN:ANSI 4,OUT,1000,1000,0,0\n");
    fresh.send("SYST:LANG X3.28\nSYST:LANG X3.28");
    QCOMPARE(fresh.send(select("OUT 30")), ACK);
    QCOMPARE(fresh.pollValue("OUT"), QByteArray("30.0"));
    QCOMPARE(fresh.pollValue("C1"), QByteArray("75.0"));
    fresh.send(select("SP1 30"));
    const double falling = fresh.pollValue("C1", 5.0).toDouble();
    QVERIFY(falling < 75.0 && falling > 30.0);

    // With the default ripple the value never settles completely.
    SimConfig rippled = cfg;
    rippled.rippleAmplitude = 0.2;
    Rig living(rippled);
    living.send(QByteArray("5") + ENQ);
    QSet<QByteArray> seen;
    for (int i = 0; i < 10; ++i)
        seen << living.pollValue("C1", 500.0 + 3.0);
    QVERIFY(seen.size() > 1);
}

void TestSimX328::sevenBitFormatStripsTheEighthBit()
{
    SimConfig cfg;
    cfg.line.setFormat(u"7E1");
    QCOMPARE(cfg.line.bitsPerCharacter(), 10);
    Rig rig(cfg);
    QCOMPARE(rig.send(QByteArray("\xB5\x85")), QByteArray("5") + ACK); // '5' and ENQ with bit 8 set
}

QTEST_APPLESS_MAIN(TestSimX328)
#include "tst_sim_x328.moc"
