// SPDX-License-Identifier: MIT
// End to end in Xon/Xoff: the real main window, headless, against the
// simulated Orna in-process (its clock runs with the program's polls). Commands and queries answered with
// XOFF, XON and the value; the converter's busy time decides whether the
// XOFF comes alone (a hold-off) or with the rest; the hold-off fault; a
// hold-off that never ends; the escape back to SCPI.
//
// The converter sends XOFF at once and XON (with a query's value and CR) one
// busy time later. With a busy time of 0 both leave in one write and reach
// the program in one poll; with 300 ms the XOFF has long been read alone
// when the XON follows.

#include "app/frmMain.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"

#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>

namespace {
const QByteArray kXon(1, '\x11'), kXoff(1, '\x13');
const QByteArray kCommandBusy = "Received <xoff> -waiting for next string";
const QByteArray kQueryBusy = "Received Xoff-waiting for next string";

SimConfig withBusy(double busyMs)
{
    SimConfig config = SimHarness::fastConfig();
    config.busyMs = busyMs;
    return config;
}

bool toXonXoff(SimHarness &h)
{
    if (!h.open())
        return false;
    h.send("SYST:LANG XonXoff");
    return h.w->cmdMode == "XonXoff" &&
           h.waitUntil([&] { return h.language() == SimLanguage::XonXoff; }) &&
           h.waitForLog(QStringLiteral("bare copy of the language switch"));
}

// The value of the last reply line the converter sent: XON, value, CR.
QByteArray lastValue(const SimHarness &h)
{
    QByteArray value;
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.bytes.startsWith(kXon) && f.bytes.endsWith('\r'))
            value = f.bytes.mid(1, f.bytes.size() - 2);
    return value;
}

bool isValueText(const QByteArray &v)
{
    static const QRegularExpression number(QStringLiteral("^-?\\d+\\.\\d$"));
    return number.match(QString::fromLatin1(v)).hasMatch();
}

int xoffsSent(const SimHarness &h)
{
    int n = 0;
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost)
            n += int(f.bytes.count(kXoff));
    return n;
}
} // namespace

class TestE2EXonXoff : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    void commandAndQuery_data()
    {
        QTest::addColumn<double>("busyMs");
        QTest::newRow("XOFF and XON in one write") << 0.0;
        QTest::newRow("XON 300 ms after XOFF") << 300.0;
    }
    void commandAndQuery()
    {
        QFETCH(double, busyMs);
        const bool holdOff = busyMs > 0;
        SimHarness h(withBusy(busyMs));
        QVERIFY2(h.open(), qPrintable(h.error()));
        TranscriptRecorder rec(*h.w);
        h.send("SYST:LANG XonXoff");
        QCOMPARE(h.transcript(), QByteArray("Sent SYST:LANG XonXoff"));
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
        QVERIFY(!h.w->lblXOnXoff->isHidden());
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Xon/Xoff Query Only"));
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::XonXoff; }));
        QVERIFY(h.waitForLog(QStringLiteral("bare copy of the language switch")));

        // A command: the set point of the controller behind the converter.
        rec.clear();
        h.clearLog();
        h.send("SP1 100");
        if (holdOff)
            QCOMPARE(rec.states, (QList<QByteArray>{"Sent SP1 100", kCommandBusy,
                                                    kCommandBusy + "\r\nReceived Characters: <Xon>"}));
        else
            QCOMPARE(rec.states, (QList<QByteArray>{"Sent SP1 100", "Sent SP1 100\r\nReceived Characters: <Xoff><Xon>"}));
        double setPoint = 0;
        h.withEngine([&](OrnaEngine &e) { setPoint = e.controller(1)->setPoint(); });
        QCOMPARE(setPoint, 100.0);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "= SP1 100\r"; }));

        // Queries: the set point just written, and the moving process value.
        for (const QByteArray &parameter : {QByteArray("SP1"), QByteArray("C1")}) {
            rec.clear();
            h.clearLog();
            h.query(parameter);
            QVERIFY(h.waitUntil([&] { return !lastValue(h).isEmpty(); }));
            const QByteArray value = lastValue(h);
            if (parameter == "SP1")
                QCOMPARE(value, QByteArray("100.0"));
            else
                QVERIFY2(isValueText(value), value.constData());
            const QByteArray sent = "Sent " + parameter;
            if (holdOff)
                QCOMPARE(rec.states, (QList<QByteArray>{sent, kQueryBusy,
                                                        kQueryBusy + "\r\nReceived Characters: <Xon>" + value + "<cr>"}));
            else
                QCOMPARE(rec.states,
                         (QList<QByteArray>{sent, sent + "\r\nReceived Characters: <Xoff><Xon>" + value + "<cr>"}));
            QVERIFY(h.waitUntil([&] { return h.hostBytes() == "? " + parameter + "\r"; }));
        }
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.error(), QString());
        QCOMPARE(h.w->OutStr, QByteArray("? C1\r"));
    }

    // A query the converter does not know: XOFF and XON without a value. In
    // one poll the XOFF ends the wait and both are listed; after a hold-off
    // the XON alone does not end it, and the wait runs out.
    void unknownQuery_data()
    {
        QTest::addColumn<double>("busyMs");
        QTest::addColumn<QList<QByteArray>>("states");
        QTest::addColumn<QString>("error");
        QTest::newRow("XOFF and XON in one poll")
            << 0.0 << QList<QByteArray>{"Sent XX1", "Sent XX1\r\nReceived Characters: <Xoff><Xon>"} << QString();
        QTest::newRow("XON alone after a hold-off")
            << 300.0 << QList<QByteArray>{"Sent XX1", kQueryBusy} << "Receive timeout error - no response from UUT";
    }
    void unknownQuery()
    {
        QFETCH(double, busyMs);
        QFETCH(QList<QByteArray>, states);
        QFETCH(QString, error);
        SimHarness h(withBusy(busyMs));
        QVERIFY(toXonXoff(h));
        TranscriptRecorder rec(*h.w);
        // Only the wait after the hold-off is meant to run out: unpaced.
        rec.when([](const QByteArray &t) { return t == kQueryBusy; }, [&] { h.w->pollPacingMicros = 0; });
        h.query("XX1");
        QCOMPARE(rec.states, states);
        QCOMPARE(h.error(), error);
        QCOMPARE(h.seams.beeps, error.isEmpty() ? 0 : 1);
        QVERIFY(h.waitForLog(QStringLiteral("unknown mnemonic, no value")));
    }

    // The converter's hold-off fault: lone XOFFs with pauses before the
    // answer. Each restarts the wait; the busy line stays until the answer.
    void holdoffFault_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::addColumn<int>("count");
        QTest::newRow("command, one hold-off") << false << 1;
        QTest::newRow("command, three hold-offs") << false << 3;
        QTest::newRow("query, one hold-off") << true << 1;
        QTest::newRow("query, three hold-offs") << true << 3;
    }
    void holdoffFault()
    {
        QFETCH(bool, isQuery);
        QFETCH(int, count);
        SimHarness h(withBusy(300.0));
        QVERIFY(toXonXoff(h));
        SimFaults f;
        f.holdoff = SimTrigger::once();
        f.holdoffCount = count;
        f.holdoffMs = 150;
        h.setFaults(f);
        TranscriptRecorder rec(*h.w);
        h.clearLog();
        if (isQuery)
            h.query("C1");
        else
            h.send("SP1 80");
        // The fault's XOFFs, the reply's own XOFF, then XON (and the value).
        QVERIFY(h.waitUntil([&] { return xoffsSent(h) == count + 1 && h.logText().contains("<XON>"); }));
        QCOMPARE(h.logText().count(QStringLiteral("[hold-off fault]")), count);
        const QByteArray busy = isQuery ? kQueryBusy : kCommandBusy;
        const QByteArray answer = isQuery ? QByteArray("<Xon>") + lastValue(h) + "<cr>" : QByteArray("<Xon>");
        QCOMPARE(rec.states, (QList<QByteArray>{"Sent " + QByteArray(isQuery ? "C1" : "SP1 80"), busy,
                                                busy + "\r\nReceived Characters: " + answer}));
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.error(), QString());

        // Spent: the next exchange gets no hold-off.
        rec.clear();
        h.query("SP1");
        QCOMPARE(rec.states.size(), 3); // "Sent SP1", the busy line of the reply's own XOFF, the answer
        QCOMPARE(rec.states.last(), kQueryBusy + "\r\nReceived Characters: <Xon>" + (isQuery ? "75.0" : "80.0") + "<cr>");
    }

    // A device that stays busy: the hold-off line stays, the wait after it
    // runs out with the timeout message.
    void endlessBusy_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::newRow("command") << false;
        QTest::newRow("query") << true;
    }
    void endlessBusy()
    {
        QFETCH(bool, isQuery);
        SimHarness h(withBusy(600000.0));
        QVERIFY(toXonXoff(h));
        TranscriptRecorder rec(*h.w);
        const QByteArray busy = isQuery ? kQueryBusy : kCommandBusy;
        rec.when([&](const QByteArray &t) { return t == busy; }, [&] { h.w->pollPacingMicros = 0; });
        if (isQuery)
            h.query("C1");
        else
            h.send("SP1 80");
        QCOMPARE(rec.states, (QList<QByteArray>{isQuery ? "Sent C1" : "Sent SP1 80", busy}));
        QCOMPARE(h.error(), QStringLiteral("Receive timeout error - no response from UUT"));
        QCOMPARE(h.seams.beeps, 1);
    }

    // "@@@" as a device command: both sides back in SCPI.
    void escapeToScpi()
    {
        SimHarness h;
        QVERIFY(toXonXoff(h));
        h.clearLog();
        h.send("@@@");
        QCOMPARE(h.transcript(), QByteArray("Sent SYST:LANG XonXoff"));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QVERIFY(!h.w->lblSCPI->isHidden());
        QVERIFY(h.w->lblXOnXoff->isHidden());
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter SCPI and Modbus commands"));
        QVERIFY(h.waitForLog(QStringLiteral("escape: language SCPI")));
        QCOMPARE(h.hostBytes(), QByteArray("@@@"));
        QCOMPARE(h.language(), SimLanguage::Scpi);
        h.send("*idn?");
        QVERIFY(h.transcript().startsWith("Sent *idn?\r\n" + OrnaEngine::identification()));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
    }
};

QTEST_MAIN(TestE2EXonXoff)
#include "tst_e2e_xonxoff.moc"
