// SPDX-License-Identifier: MIT
// Faults end to end: the real main window, headless, against the simulated
// Orna: the line dropped in the middle of every wait and under running
// loops through the real serial code (a pseudo-terminal that hangs up).

#include "app/frmMain.h"
#include "support/RecordingPort.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kEnq(1, '\x05'), kAck(1, '\x06');
const QByteArray kCommandBusy = "Received <xoff> -waiting for next string";
const QByteArray kQueryBusy = "Received Xoff-waiting for next string";

QByteArray selection(const QByteArray &text) { return kStx + "= " + text + kEtx; }
QByteArray poll(const QByteArray &text) { return kStx + "? " + text + kEtx; }

SimConfig config(double busyMs = 20.0)
{
    SimConfig c = SimHarness::fastConfig();
    c.busyMs = busyMs;
    return c;
}

bool switchLanguage(SimHarness &h, const QByteArray &language, SimLanguage expected)
{
    h.send("SYST:LANG " + language);
    return h.waitUntil([&] { return h.language() == expected; }) &&
           h.waitForLog(QStringLiteral("bare copy of the language switch"));
}

// The program and the converter in the mode named, an X3.28 link to 5 open
// when "x328"; the converter's log has caught up.
bool setUp(SimHarness &h, const QString &mode)
{
    if (!h.open())
        return false;
    if (mode == QLatin1String("x328") || mode == QLatin1String("x328-nolink")) {
        if (!switchLanguage(h, "X3.28", SimLanguage::X328))
            return false;
        if (mode == QLatin1String("x328-nolink"))
            return true;
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.w->cmdSet_Click();
        return h.w->AddrSetFlg && h.waitForLog(QStringLiteral("link open to address 5"));
    }
    if (mode == QLatin1String("xonxoff"))
        return switchLanguage(h, "XonXoff", SimLanguage::XonXoff);
    return mode == QLatin1String("scpi");
}

// One exchange by name, as the operator starts it.
void run(SimHarness &h, const QString &exchange)
{
    if (exchange == QLatin1String("link")) {
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.w->cmdSet_Click();
    } else if (exchange == QLatin1String("select") || exchange == QLatin1String("xoncmd")) {
        h.send("SP1 100");
    } else if (exchange == QLatin1String("poll") || exchange == QLatin1String("xonquery")) {
        h.query("C1");
    } else if (exchange == QLatin1String("scpiQuery")) {
        h.send("*idn?");
    } else if (exchange == QLatin1String("scpiCommand")) {
        h.send("*cls");
    } else if (exchange == QLatin1String("readBack")) {
        h.w->cmdRdCmdTable_Click();
    } else if (exchange == QLatin1String("load")) {
        h.seams.answers << UiSeams::Yes;
        h.w->cmdLdCmdTable_Click();
    } else {
        QFAIL(qPrintable(QStringLiteral("no exchange %1").arg(exchange)));
    }
}

// The expected transcript with {V}, the value of the poll data block the
// converter sent (STX, value, CR, ETX), filled in from its log.
QByteArray expand(QByteArray t, const SimHarness &h)
{
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.bytes.startsWith(kStx) && f.bytes.endsWith("\r" + kEtx))
            return t.replace("{V}", f.bytes.mid(1, f.bytes.size() - 3));
    return t;
}

bool lostMessage(const QString &error, const QString &path)
{
    return error.startsWith(QStringLiteral("COM 1 (%1) was lost: ").arg(path)) &&
           error.endsWith(QStringLiteral("; the port is closed."));
}
} // namespace

class TestE2EFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // ---- The far end closed during each wait

    void dropDuringWait_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<int>("nthReply");    // the drop fault strikes this reply; 0: dropped on the busy line
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QByteArray>("lastWrite"); // the program's last write before the loss
        const QByteArray acked = "Received Characters:  6 \r\nReceived  ACK";
        QTest::newRow("link open") << "x328-nolink" << "link" << 1 << QByteArray("Sent SYST:LANG X3.28")
                                   << QByteArray("5" + kEnq);
        QTest::newRow("selection") << "x328" << "select" << 1 << QByteArray("Sent SP1 100") << selection("SP1 100");
        QTest::newRow("poll, ACK wait") << "x328" << "poll" << 1 << QByteArray("Sent C1") << poll("C1");
        QTest::newRow("poll, data wait") << "x328" << "poll" << 2 << acked << kEot;
        QTest::newRow("poll, EOT wait") << "x328" << "poll" << 3 << acked + "\r\nReceived STX {V}<cr> ETX" << kAck;
        QTest::newRow("Xon/Xoff command") << "xonxoff" << "xoncmd" << 1 << QByteArray("Sent SP1 100")
                                          << QByteArray("= SP1 100\r");
        QTest::newRow("Xon/Xoff command, after a hold-off") << "xonxoff" << "xoncmd" << 0 << kCommandBusy
                                                            << QByteArray("= SP1 100\r");
        QTest::newRow("Xon/Xoff query") << "xonxoff" << "xonquery" << 1 << QByteArray("Sent C1") << QByteArray("? C1\r");
        QTest::newRow("Xon/Xoff query, after a hold-off") << "xonxoff" << "xonquery" << 0 << kQueryBusy
                                                          << QByteArray("? C1\r");
        QTest::newRow("SCPI query") << "scpi" << "scpiQuery" << 1 << QByteArray("Sent *idn?") << QByteArray("*idn?\n");
        QTest::newRow("SCPI prompt") << "scpi" << "scpiCommand" << 1 << QByteArray("Sent *cls") << QByteArray("*cls\n");
        QTest::newRow("table read-back")
            << "scpi" << "readBack" << 2
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nslot 2: no answer, reading stopped")
            << QByteArray("ASSIGN:ANSI?  2\n");
        QTest::newRow("table load") << "scpi" << "load" << 2
                                    << QByteArray("Loading could not be confirmed: the line closed at slot 2")
                                    << QByteArray("ASSIGN:ANSI  2,C1,360,0,4,0\n");
    }
    void dropDuringWait()
    {
        QFETCH(QString, mode);
        QFETCH(QString, exchange);
        QFETCH(int, nthReply);
        QFETCH(QByteArray, transcript);
        QFETCH(QByteArray, lastWrite);
        // A long busy time: the hold-off line stands until the line drops.
        SimHarness h(config(600000.0), SimHarness::Line::OwnHost);
        RecordingPort *port = h.recordWrites();
        QVERIFY(setUp(h, mode));
        const QString path = h.w->MSComm1->deviceName();
        TranscriptRecorder rec(*h.w);
        if (nthReply > 0) {
            SimFaults f;
            f.drop = SimTrigger::once(nthReply);
            h.setFaults(f);
        } else {
            rec.when([](const QByteArray &t) { return t == kCommandBusy || t == kQueryBusy; },
                     [&] { h.server().dropLine(); });
        }
        const int beepsBefore = h.seams.beeps;
        run(h, exchange);

        QVERIFY2(lostMessage(h.error(), path), qPrintable(h.error()));
        QCOMPARE(h.transcript(), expand(transcript, h));
        QCOMPARE(h.seams.beeps, beepsBefore + 1);
        QVERIFY(!h.portOpen());
        QCOMPARE(port->losses, 1);
        QVERIFY(port->writesAtLoss > 0);
        QCOMPARE(port->writes[port->writesAtLoss - 1].bytes, lastWrite);
        QVERIFY(h.waitForLog(nthReply > 0 ? QStringLiteral("drop fault") : QStringLiteral("line dropped on request")));

        // Nothing more is written, whatever the operator tries; each try
        // says that the port is closed.
        QCOMPARE(port->writesAfterLoss(), 0);
        h.send("*cls");
        QVERIFY2(h.error().startsWith(QStringLiteral("The COM port is closed: COM 1 (%1) was lost: ").arg(path)),
                 qPrintable(h.error()));
        h.query("C1");
        h.w->cmdSet_Click();
        h.w->cmdDisconnect_Click();
        h.w->cmdSCPI_Click();
        h.w->cmdRdCmdTable_Click();
        QTest::qWait(50);
        QCOMPARE(port->writesAfterLoss(), 0);
        QVERIFY(!h.portOpen());

        // The program goes on: a new cmdInit serves a fresh converter.
        h.setFaults(SimFaults());
        h.clearLog();
        QVERIFY2(h.open(), qPrintable(h.error()));
        QCOMPARE(h.w->MSComm1->deviceName(), h.host().devicePath());
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        h.send("*idn?");
        QCOMPARE(h.transcript(), "Sent *idn?\r\n" + OrnaEngine::identification() + "\r\nPrompt received");
        QVERIFY(!h.w->errorShown());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*idn?\n"; }));
        QCOMPARE(port->writes.last().bytes, QByteArray("*idn?\n"));
        QVERIFY(port->writes.last().portOpen);
    }

    // Both loops running when the line drops: later ticks write nothing, are
    // not counted, and the loss is reported once.
    void loopsWhenTheLineDrops()
    {
        SimHarness h(SimHarness::Line::OwnHost);
        RecordingPort *port = h.recordWrites();
        QVERIFY(setUp(h, QStringLiteral("x328")));
        const QString path = h.w->MSComm1->deviceName();
        h.w->optTime_Click(0);
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdCmdtst_Click();
        h.w->cmdQtst_Click();
        QVERIFY(h.waitUntil([&] { return h.w->LpCount >= 2; }, 20000));
        // The next reply of the converter (the ACK to the next tick's
        // selection) is a dropped line.
        SimFaults f;
        f.drop = SimTrigger::once();
        h.setFaults(f);
        QVERIFY(h.waitUntil([&] { return !h.portOpen(); }, 20000));
        const qint64 count = h.w->LpCount;
        const qint64 skipped = h.w->skippedTicks();
        QVERIFY(h.waitUntil([&] { return h.w->skippedTicks() >= skipped + 3; }, 20000));
        QCOMPARE(h.w->LpCount, count);
        QCOMPARE(h.w->txtCount->text(), QString::number(count));
        QCOMPARE(port->writesAfterLoss(), 0);
        QCOMPARE(port->writes[port->writesAtLoss - 1].bytes, selection("SP1 100"));
        QVERIFY2(lostMessage(h.error(), path), qPrintable(h.error()));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->CMDloopFlg, 1); // the loops never stop by themselves
        QCOMPARE(h.w->QloopFlg, 1);
    }
};

QTEST_MAIN(TestE2EFaults)
#include "tst_e2e_faults.moc"
