// SPDX-License-Identifier: MIT
// Line-rate pacing of the stand-in converter's replies, its fault
// switches, and its frame log.

#include "sim/engine/OrnaEngine.h"

#include <QtTest>

namespace {
const QByteArray STX("\x02"), ETX("\x03"), EOT("\x04"), ENQ("\x05"), ACK("\x06"), CR("\r"),
    NAK("\x15");
const char XON = 0x11, XOFF = 0x13;
constexpr double Inf = std::numeric_limits<double>::infinity();

QByteArray select(const QByteArray &text) { return STX + "= " + text + ETX; }
QByteArray poll(const QByteArray &text) { return STX + "? " + text + ETX; }

struct Rig {
    explicit Rig(SimFaults faults = SimFaults(), SimLanguage language = SimLanguage::X328)
        : engine(config(faults))
    {
        if (language == SimLanguage::X328) {
            engine.receive("SYST:LANG X3.28\n", t);
            engine.receive("5\x05", t);
        } else if (language == SimLanguage::XonXoff) {
            engine.receive("SYST:LANG XonXoff\n", t);
        }
        engine.takeDue(Inf);
    }
    static SimConfig config(const SimFaults &faults)
    {
        SimConfig cfg;
        cfg.turnaroundMs = 0.0;
        cfg.busyMs = 0.0;
        cfg.faults = faults;
        return cfg;
    }
    QList<SimOut> sendTimed(const QByteArray &bytes, double advance = 0.5)
    {
        t += advance;
        engine.receive(bytes, t);
        return engine.takeDue(Inf);
    }
    QByteArray send(const QByteArray &bytes, double advance = 0.5)
    {
        QByteArray out;
        for (const SimOut &o : sendTimed(bytes, advance))
            out += o.bytes;
        return out;
    }
    OrnaEngine engine;
    double t = 0.0;
};

SimFaults with(SimTrigger SimFaults::*fault, SimTrigger trigger)
{
    SimFaults f;
    f.*fault = trigger;
    return f;
}

bool onlyLetters(const QByteArray &bytes)
{
    for (char c : bytes)
        if (c < 'a' || c > 'z')
            return false;
    return !bytes.isEmpty();
}
} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT
private slots:
    void triggerTextParses_data();
    void triggerTextParses();
    void bitsPerCharacterFollowFormat();
    void repliesLeaveAtLineRateAfterTurnaround();
    void repliesQueueBehindOneAnother();
    void delayHoldsBackOneReply();
    void silenceLosesReplies();
    void nakReplacesAckOnceOrAlways();
    void nakAtRateIsRepeatableBySeed();
    void noiseComesBeforeTheReply();
    void holdoffSendsLoneXoffsFirst();
    void noStxLeavesOutTheStx();
    void afterEotAddsBytes();
    void babbleHasNoTerminator();
    void dropHangsUpAndEndsEverything();
    void faultsSwitchedAtRunTime();
    void frameLogNamesControlCharacters();
};

void TestSimFaults::triggerTextParses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("nth");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("shown");
    QTest::newRow("off") << "off" << true << int(SimTrigger::Off) << 1 << 0.0 << "off";
    QTest::newRow("once") << "once" << true << int(SimTrigger::Once) << 1 << 0.0 << "once";
    QTest::newRow("once:4") << "ONCE:4" << true << int(SimTrigger::Once) << 4 << 0.0 << "once:4";
    QTest::newRow("always") << "always" << true << int(SimTrigger::Always) << 1 << 0.0 << "always";
    QTest::newRow("rate:0.25") << "rate:0.25" << true << int(SimTrigger::Rate) << 1 << 0.25 << "rate:0.25";
    QTest::newRow("bare 0.5") << " 0.5 " << true << int(SimTrigger::Rate) << 1 << 0.5 << "rate:0.5";
    QTest::newRow("rate above 1") << "1.5" << false << 0 << 0 << 0.0 << "";
    QTest::newRow("once:0") << "once:0" << false << 0 << 0 << 0.0 << "";
    QTest::newRow("word") << "sometimes" << false << 0 << 0 << 0.0 << "";
}

void TestSimFaults::triggerTextParses()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto trigger = SimTrigger::parse(text);
    QCOMPARE(trigger.has_value(), valid);
    if (!valid)
        return;
    QFETCH(int, mode);
    QFETCH(int, nth);
    QFETCH(double, rate);
    QCOMPARE(int(trigger->mode), mode);
    QCOMPARE(trigger->nth, nth);
    QCOMPARE(trigger->rate, rate);
    QFETCH(QString, shown);
    QCOMPARE(trigger->toString(), shown);
    QCOMPARE(SimTrigger::parse(trigger->toString()), trigger); // what is shown can be typed back
}

void TestSimFaults::bitsPerCharacterFollowFormat()
{
    SimLineFormat f;
    QCOMPARE(f.bitsPerCharacter(), 10);
    QVERIFY(f.setFormat(u"7o1"));
    QCOMPARE(f.bitsPerCharacter(), 10);
    QCOMPARE(f.formatName(), QStringLiteral("7O1"));
    QVERIFY(!f.setFormat(u"9X2"));
    QCOMPARE(f.formatName(), QStringLiteral("7O1"));
    f.baud = 38400;
    QVERIFY(qAbs(f.characterSeconds() - 10.0 / 38400.0) < 1e-12);
}

void TestSimFaults::repliesLeaveAtLineRateAfterTurnaround()
{
    SimConfig cfg;
    cfg.line.baud = 2400;
    cfg.turnaroundMs = 5.0;
    OrnaEngine engine(cfg);
    const double c = 10.0 / 2400.0;
    engine.receive("*IDN?\n", 1.0);
    const QByteArray whole = OrnaEngine::identification() + "\n>";

    // Nothing before the turn-around and the first character time.
    QVERIFY(engine.takeDue(1.0 + 0.005 + c * 0.5).isEmpty());
    QVERIFY(qAbs(engine.nextDueTime() - (1.0 + 0.005 + c)) < 1e-9);
    // Ten characters later exactly ten are out.
    const QList<SimOut> first = engine.takeDue(1.0 + 0.005 + 10 * c + 1e-7);
    QCOMPARE(first.size(), 1);
    QCOMPARE(first[0].bytes, whole.left(10));
    QVERIFY(qAbs(engine.nextDueTime() - (1.0 + 0.005 + 11 * c)) < 1e-9);
    QByteArray rest;
    for (const SimOut &o : engine.takeDue(1.0 + 0.005 + whole.size() * c + 1e-7))
        rest += o.bytes;
    QCOMPARE(rest, whole.mid(10));
    QVERIFY(!engine.hasPendingOutput());
    QVERIFY(std::isinf(engine.nextDueTime()));

    // Zero turn-around starts at the next character time.
    engine.setTurnaroundMs(0.0);
    engine.receive("*CLS\n", 2.0);
    QVERIFY(qAbs(engine.nextDueTime() - (2.0 + c)) < 1e-9);
}

void TestSimFaults::repliesQueueBehindOneAnother()
{
    SimConfig cfg;
    cfg.line.baud = 1200;
    cfg.turnaroundMs = 3.0;
    OrnaEngine engine(cfg);
    const double c = 10.0 / 1200.0;
    engine.receive("*IDN?\n*ESR?\n", 0.0);
    const QList<SimOut> out = engine.takeDue(Inf);
    QCOMPARE(out.size(), 2);
    const qsizetype idLength = OrnaEngine::identification().size() + 2;
    QCOMPARE(out[1].bytes, QByteArray("0\n>"));
    // The second reply starts right after the last character of the first.
    QVERIFY(qAbs(out[1].time - (0.003 + (idLength + 1) * c)) < 1e-9);
}

void TestSimFaults::delayHoldsBackOneReply()
{
    SimFaults f = with(&SimFaults::delay, SimTrigger::once());
    f.delayMs = 6000;
    Rig rig(f, SimLanguage::Scpi);
    rig.t = 10.0;
    rig.engine.receive("*CLS\n", rig.t);
    QVERIFY(rig.engine.takeDue(rig.t + 5.9).isEmpty());
    QCOMPARE(rig.engine.takeDue(rig.t + 6.1).value(0).bytes, QByteArray(">"));
    // The next reply is on time again.
    rig.engine.receive("*CLS\n", 20.0);
    QCOMPARE(rig.engine.takeDue(20.01).value(0).bytes, QByteArray(">"));
}

void TestSimFaults::silenceLosesReplies()
{
    Rig once(with(&SimFaults::silence, SimTrigger::once(2)), SimLanguage::Scpi);
    QVERIFY(once.send("*IDN?\n").startsWith("Vek"));
    QCOMPARE(once.send("*IDN?\n"), QByteArray());
    QVERIFY(once.send("*IDN?\n").startsWith("Vek"));

    // A lost ACK does not undo the selection: the converter did it.
    Rig always(with(&SimFaults::silence, SimTrigger::always()));
    QCOMPARE(always.send(select("SP1 40")), QByteArray());
    QCOMPARE(always.engine.controller(5)->setPoint(), 40.0);
}

void TestSimFaults::nakReplacesAckOnceOrAlways()
{
    Rig rig(with(&SimFaults::nak, SimTrigger::once()));
    QCOMPARE(rig.send(select("SP1 40")), NAK);
    QCOMPARE(rig.engine.controller(5)->setPoint(), 40.0); // the controller still took it
    QCOMPARE(rig.send(select("SP1 41")), ACK);
    QCOMPARE(rig.send(poll("C1")), ACK);
    QVERIFY(rig.send(EOT).startsWith(STX));
    QCOMPARE(rig.send(ACK), EOT);

    // A refused poll hands nothing over on EOT.
    Rig always(with(&SimFaults::nak, SimTrigger::always()));
    QCOMPARE(always.send(poll("C1")), NAK);
    QCOMPARE(always.send(EOT), QByteArray());
    // The fault turns no NAK into an ACK, and the link itself still opens.
    QCOMPARE(always.send(select("C1 1")), NAK);
    QCOMPARE(always.send("1\x05"), QByteArray("1\x06"));
}

void TestSimFaults::nakAtRateIsRepeatableBySeed()
{
    auto run = [](double rate, quint32 seed) {
        SimFaults f = with(&SimFaults::nak, SimTrigger::atRate(rate));
        f.seed = seed;
        Rig rig(f);
        QByteArray answers;
        for (int i = 0; i < 400; ++i)
            answers += rig.send(select("SP1 50"));
        return answers;
    };
    const QByteArray a = run(0.3, 7);
    QCOMPARE(a.size(), 400);
    QCOMPARE(run(0.3, 7), a);
    QVERIFY(run(0.3, 8) != a);
    const double share = double(a.count(NAK)) / a.size();
    QVERIFY2(share > 0.2 && share < 0.4, qPrintable(QString::number(share)));
    QCOMPARE(run(0.0, 7).count(NAK), 0);
    QCOMPARE(run(1.0, 7).count(NAK), 400);
}

void TestSimFaults::noiseComesBeforeTheReply()
{
    SimFaults f = with(&SimFaults::noise, SimTrigger::always());
    f.noiseBytes = 4;
    Rig rig(f);
    const QByteArray open = rig.send("5\x05");
    QCOMPARE(open.size(), 6);
    QVERIFY(onlyLetters(open.left(4)));
    QCOMPARE(open.mid(4), QByteArray("5\x06"));
    const QByteArray ack = rig.send(select("SP1 1"));
    QVERIFY(onlyLetters(ack.left(4)));
    QCOMPARE(ack.mid(4), ACK);
}

void TestSimFaults::holdoffSendsLoneXoffsFirst()
{
    SimFaults f = with(&SimFaults::holdoff, SimTrigger::always());
    f.holdoffCount = 2;
    f.holdoffMs = 400;
    Rig rig(f, SimLanguage::XonXoff);
    const double sent = rig.t + 0.5;
    const QList<SimOut> out = rig.sendTimed("? SP1\r");
    QByteArray all;
    for (const SimOut &o : out)
        all += o.bytes;
    QCOMPARE(all, QByteArray() + XOFF + XOFF + XOFF + XON + "75.0\r");
    // Each lone XOFF stands alone on the line for the hold-off time.
    QCOMPARE(out.size(), 4);
    QVERIFY(out[1].time - out[0].time > 0.399);
    QVERIFY(out[2].time - out[1].time > 0.399);
    QVERIFY(out[0].time - sent < 0.01);
    // X3.28 replies are not held off.
    rig.send("@@@SYST:LANG X3.28\n");
    QCOMPARE(rig.send("5\x05"), QByteArray("5\x06"));
}

void TestSimFaults::noStxLeavesOutTheStx()
{
    Rig rig(with(&SimFaults::noStx, SimTrigger::once()));
    QCOMPARE(rig.send(poll("SP1")), ACK);
    QCOMPARE(rig.send(EOT), "75.0" + CR + ETX);
    QCOMPARE(rig.send(NAK), STX + "75.0" + CR + ETX); // the repeat is whole
    QCOMPARE(rig.send(ACK), EOT);
}

void TestSimFaults::afterEotAddsBytes()
{
    SimFaults f = with(&SimFaults::afterEot, SimTrigger::always());
    f.afterEotBytes = 3;
    Rig rig(f);
    rig.send(poll("SP1"));
    QCOMPARE(rig.send(EOT), STX + "75.0" + CR + ETX);
    const QByteArray end = rig.send(ACK);
    QCOMPARE(end.size(), 4);
    QVERIFY(end.startsWith(EOT));
    QVERIFY(onlyLetters(end.mid(1)));
}

void TestSimFaults::babbleHasNoTerminator()
{
    SimFaults f = with(&SimFaults::babble, SimTrigger::once());
    f.babbleBytes = 33000;
    Rig rig(f, SimLanguage::Scpi);
    const QByteArray stream = rig.send("*IDN?\n");
    QCOMPARE(stream.size(), 33000);
    QVERIFY(onlyLetters(stream)); // no LF, no prompt, no control character
    QVERIFY(rig.send("*IDN?\n").startsWith("Vek"));

    // A host that asks on while long streams are still queued: what waits
    // to be sent stays within the transmit queue; a reply without room is
    // dropped whole.
    SimFaults always = with(&SimFaults::babble, SimTrigger::always());
    always.babbleBytes = 1000000;
    Rig flood(always, SimLanguage::Scpi);
    flood.engine.receive("*IDN?\n*IDN?\n*IDN?\n", flood.t);
    qsizetype queued = 0;
    for (const SimOut &o : flood.engine.takeDue(Inf))
        queued += o.bytes.size();
    QCOMPARE(queued, qsizetype(2000000));
    QVERIFY(2000000 <= OrnaEngine::kMaxQueuedOutput && 3000000 > OrnaEngine::kMaxQueuedOutput);
}

void TestSimFaults::dropHangsUpAndEndsEverything()
{
    Rig rig;
    rig.engine.setFaults(with(&SimFaults::drop, SimTrigger::once(2)));
    QCOMPARE(rig.send(select("SP1 10")), ACK);
    rig.t += 1.0;
    // Nothing after the message that drops the line is acted on, in the same
    // read or a later one before the line goes down.
    rig.engine.receive(select("SP1 20") + select("SP1 30"), rig.t);
    rig.engine.receive(select("SP1 40"), rig.t + 0.001);
    QCOMPARE(rig.engine.controller(5)->setPoint(), 20.0);
    const QList<SimOut> out = rig.engine.takeDue(Inf);
    QCOMPARE(out.size(), 1);
    QVERIFY(out[0].hangUp);
    QVERIFY(out[0].bytes.isEmpty());
    QVERIFY(rig.engine.lineDropped());
    QVERIFY(!rig.engine.hasPendingOutput());
    QVERIFY(rig.engine.takeDue(Inf).isEmpty()); // the line goes down once
    QCOMPARE(rig.send("5\x05"), QByteArray());
    QCOMPARE(rig.send("@@@*IDN?\n"), QByteArray());
}

void TestSimFaults::faultsSwitchedAtRunTime()
{
    Rig rig;
    QCOMPARE(rig.send(select("SP1 1")), ACK);
    rig.engine.setFaults(with(&SimFaults::nak, SimTrigger::once()));
    QCOMPARE(rig.send(select("SP1 1")), NAK);
    QCOMPARE(rig.send(select("SP1 1")), ACK);
    // Setting the same switch again starts its count afresh.
    rig.engine.setFaults(with(&SimFaults::nak, SimTrigger::once()));
    QCOMPARE(rig.send(select("SP1 1")), NAK);
    rig.engine.setFaults(SimFaults());
    QCOMPARE(rig.send(select("SP1 1")), ACK);
}

void TestSimFaults::frameLogNamesControlCharacters()
{
    QCOMPARE(simNameBytes(STX + "? C1" + ETX), QStringLiteral("<STX>? C1<ETX>"));
    QCOMPARE(simNameBytes(QByteArray("\x13\x11" "1\r\n\x10\x05\x15\x04\x06\x7f\xe9", 12)),
             QStringLiteral("<XOFF><XON>1<CR><LF><DLE><ENQ><NAK><EOT><ACK><DEL><xE9>"));
    // A literal "<" never reads as the start of a name.
    QCOMPARE(simNameBytes("<CR>\r"), QStringLiteral("<x3C>CR><CR>"));
    QCOMPARE(simNameBytes(QByteArray(10, 'a'), 4), QStringLiteral("aaaa...(+6 bytes)"));

    SimFaults f = with(&SimFaults::nak, SimTrigger::once());
    Rig rig(f);
    QStringList lines;
    rig.engine.setFrameHook([&](const SimFrame &frame) { lines << frame.toLogLine().mid(9); });
    rig.send(select("SP1 5"));
    rig.send("\x10\x05");
    QCOMPARE(lines, QStringList({"  host> <STX>= SP1 5<ETX>", "  sim > <NAK>  [NAK fault]",
                                 "  host> <DLE><ENQ>", "  ----  link closed by the host"}));
}

QTEST_APPLESS_MAIN(TestSimFaults)
#include "tst_sim_faults.moc"
