// SPDX-License-Identifier: MIT
// End to end for the ANSI command table and the test loops: the real main
// window, headless, against the simulated Orna in-process.
// Loading the example tables and reading them back as the converter holds
// them; the query loop and both loops in X3.28 on the real timer.

#include "app/frmMain.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kAck(1, '\x06');
const QString kQuestion =
    QStringLiteral("Select target Modbus device|Click Yes to load EZ-Zone registers, No to load F4 registers");

SimConfig withTable(SimStartTable table, QList<SimControllerConfig> controllers = {{1, SimModel::EzZone},
                                                                                   {5, SimModel::EzZone}})
{
    SimConfig config = SimHarness::fastConfig();
    config.startTable = table;
    config.controllers = std::move(controllers);
    return config;
}

QByteArray assignLines(const QList<QByteArray> &entries)
{
    QByteArray lines;
    for (int i = 0; i < entries.size(); ++i)
        lines += "ASSIGN:ANSI  " + QByteArray::number(i + 1) + "," + entries[i] + "\n";
    return lines;
}

QByteArray readBackQueries(int count)
{
    QByteArray lines;
    for (int slot = 1; slot <= count; ++slot)
        lines += "ASSIGN:ANSI?  " + QByteArray::number(slot) + "\n";
    return lines;
}

QList<QByteArray> tableOf(const SimHarness &h, int count)
{
    QList<QByteArray> entries;
    h.withEngine([&](OrnaEngine &e) {
        for (int slot = 1; slot <= count; ++slot)
            entries << e.tableEntry(slot).toText();
    });
    return entries;
}

bool toX328WithLink(SimHarness &h, const QString &address)
{
    h.send("SYST:LANG X3.28");
    if (!h.waitUntil([&] { return h.language() == SimLanguage::X328; }) ||
        !h.waitForLog(QStringLiteral("bare copy of the language switch")))
        return false;
    h.w->txtAddr->setText(address);
    h.w->cmdSet_Click();
    // The converter's log has caught up when it shows the link.
    return h.w->AddrSetFlg && h.waitForLog(QStringLiteral("link open to address"));
}

QByteArray pollFrame(const QByteArray &text) { return kStx + "? " + text + kEtx; }
QByteArray selectFrame(const QByteArray &text) { return kStx + "= " + text + kEtx; }

// The values of the poll data lines among the transcript states, in order.
QList<double> polledValues(const QList<QByteArray> &states)
{
    static const QRegularExpression line(QStringLiteral("Received STX (-?\\d+\\.\\d)<cr> ETX$"));
    QList<double> values;
    for (const QByteArray &s : states) {
        const auto m = line.match(QString::fromLatin1(s));
        if (m.hasMatch())
            values << m.captured(1).toDouble();
    }
    return values;
}

const QRegularExpression kFullPoll(QStringLiteral(
    "^Received Characters:  6 \\r\\nReceived  ACK\\r\\nReceived STX -?\\d+\\.\\d<cr> ETX\\r\\nReceived EOT$"));
} // namespace

class TestE2ETableLoops : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // ---- The command table

    void loadAndReadBack_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("startTable");
        QTest::addColumn<QList<QByteArray>>("entries");
        QTest::newRow("EZ-Zone into an empty table")
            << int(UiSeams::Yes) << int(SimStartTable::Empty)
            << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"};
        QTest::newRow("F4 over the EZ-Zone examples")
            << int(UiSeams::No) << int(SimStartTable::EzZoneExamples)
            << QList<QByteArray>{"SP1,300,300,3,1", "C1,100,0,1,1", "ID,0,0,1,1"};
    }
    void loadAndReadBack()
    {
        QFETCH(int, answer);
        QFETCH(int, startTable);
        QFETCH(QList<QByteArray>, entries);
        SimHarness h(withTable(SimStartTable(startTable)));
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.seams.answers << UiSeams::Answer(answer);
        h.w->cmdLdCmdTable_Click();
        QCOMPARE(h.seams.questions, QStringList{kQuestion});
        QCOMPARE(h.transcript(), QByteArray("Commands loaded"));
        QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("*ESR?"));
        QCOMPARE(h.w->CmdStr, QByteArray("*ESR?"));
        QCOMPARE(tableOf(h, 4), entries + QList<QByteArray>{"0,0,0,0,0"});
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == assignLines(entries) + "*ESR?\n"; }));

        h.clearLog();
        h.w->cmdRdCmdTable_Click();
        QCOMPARE(h.transcript(), "ANSI Command Table\r\n" + entries.join("\r\n"));
        QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("ASSIGN:ANSI?  4"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(4); }));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
    }

    // The F4 table reaches an F4 controller: ID reads its model number.
    void f4TableServesF4Controller()
    {
        SimHarness h(withTable(SimStartTable::Empty, {{5, SimModel::F4}}));
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.seams.answers << UiSeams::No;
        h.w->cmdLdCmdTable_Click();
        QCOMPARE(h.transcript(), QByteArray("Commands loaded"));
        QVERIFY(toX328WithLink(h, QStringLiteral("5")));
        h.query("ID");
        QCOMPARE(h.transcript(),
                 QByteArray("Received Characters:  6 \r\nReceived  ACK\r\nReceived STX 5270<cr> ETX\r\nReceived EOT"));
        h.send("SP1 150.5");
        QCOMPARE(h.transcript(), QByteArray("Received Characters:  6 \r\nReceived ACK"));
        h.query("SP1");
        QVERIFY2(h.transcript().contains("\r\nReceived STX 150.5<cr> ETX\r\n"), h.transcript().constData());
        QCOMPARE(h.seams.beeps, 0);
    }

    // The load is judged by this load's own "*ESR?": the converter's error
    // bit from an earlier unknown command shows.
    void loadReportsTheEventStatus()
    {
        SimHarness h(withTable(SimStartTable::Empty));
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send("BOGUS");
        QCOMPARE(h.transcript(), QByteArray("Sent BOGUS\r\nPrompt received"));
        h.seams.answers << UiSeams::Yes;
        h.w->cmdLdCmdTable_Click();
        QCOMPARE(h.transcript(), QByteArray("Loading error, ESR Register = 32"));
        QCOMPARE(h.w->Rdg, QByteArray("32"));
        QCOMPARE(h.eventStatus(), 0); // read and cleared
        QCOMPARE(tableOf(h, 1), QList<QByteArray>{"SP1,2160,2160,6,0"});
    }

    void cancelledLoadSendsNothing()
    {
        SimHarness h(withTable(SimStartTable::Empty));
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send("*cls");
        h.seams.answers << UiSeams::Cancel;
        h.w->cmdLdCmdTable_Click();
        QCOMPARE(h.seams.questions.size(), 1);
        QCOMPARE(h.transcript(), QByteArray("Sent *cls\r\nPrompt received"));
        h.send("*idn?");
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*cls\n*idn?\n"; }));
        QCOMPARE(tableOf(h, 1), QList<QByteArray>{"0,0,0,0,0"});
    }

    // At the line rate the converter's prompt trails each reply line by a
    // character time, and the next slot's query is already out when it
    // comes: it must not show in front of the next entry.
    void readBackAtTheLineRate()
    {
        SimHarness h(SimHarness::Line::BuiltIn); // 9600 baud, EZ-Zone examples in slots 1-3
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.w->cmdRdCmdTable_Click();
        QCOMPARE(h.transcript(), QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nSP9,0,0,12,0"));
        QVERIFY(!h.w->errorShown());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(4); }));
    }

    void emptyTableReadBack()
    {
        SimHarness h(withTable(SimStartTable::Empty));
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.w->cmdRdCmdTable_Click();
        QCOMPARE(h.transcript(), QByteArray("ANSI Command Table"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(1); }));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
    }

    // After the switch to X3.28 through the SCPI exchange the table buttons
    // stay enabled; the table lines must not reach the controllers.
    void tableRefusedOutsideScpi()
    {
        SimHarness h;
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send("SYST:LANG X3.28");
        QVERIFY(h.w->cmdLdCmdTable->isEnabled());
        QVERIFY(h.w->cmdRdCmdTable->isEnabled());
        h.seams.answers << UiSeams::Yes;
        h.w->cmdLdCmdTable_Click();
        QCOMPARE(h.error(),
                 QStringLiteral("Load Examples works only in SCPI mode (current mode: X3.28); nothing was sent"));
        h.w->cmdRdCmdTable_Click();
        QCOMPARE(h.error(), QStringLiteral("Read Table works only in SCPI mode (current mode: X3.28); nothing was sent"));
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(h.seams.questions.isEmpty());
        QCOMPARE(h.transcript(), QByteArray("Sent SYST:LANG X3.28"));
        // Only the switch and what follows it reached the converter.
        h.w->cmdSCPI_Click();
        QVERIFY(h.waitUntil(
            [&] { return h.hostBytes() == "SYST:LANG X3.28\nSYST:LANG X3.28@@@"; }));
        QCOMPARE(tableOf(h, 4), (QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0", "0,0,0,0,0"}));
    }

    // ---- The loops, on the real timer

    // C1 polled every 100 ms while the process value runs toward a far set point.
    void queryLoopShowsCountAndMovingValue()
    {
        SimHarness h;
        QVERIFY2(h.open(), qPrintable(h.error()));
        QVERIFY(toX328WithLink(h, QStringLiteral("5")));
        h.send("SP1 9000");
        QCOMPARE(h.transcript(), QByteArray("Received Characters:  6 \r\nReceived ACK"));
        h.w->optTime_Click(0);
        QCOMPARE(h.w->Timer1->interval(), 100);
        QVERIFY(h.w->txtCount->isHidden());

        TranscriptRecorder rec(*h.w);
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdQtst_Click();
        QCOMPARE(h.w->QloopFlg, 1);
        QVERIFY(!h.w->cmdQtst->isEnabled());
        QVERIFY(h.w->cmdQtstOff->isEnabled());
        QVERIFY(h.waitUntil(
            [&] {
                const QList<double> v = polledValues(rec.states);
                return h.w->LpCount >= 5 && !v.isEmpty() && v.last() != v.first();
            },
            20000));
        // Between ticks: the count as shown, the last poll complete.
        QVERIFY(!h.w->txtCount->isHidden());
        QVERIFY(!h.w->lblCount->isHidden());
        QCOMPARE(h.w->txtCount->text(), QString::number(h.w->LpCount));
        QVERIFY2(kFullPoll.match(QString::fromLatin1(h.transcript())).hasMatch(), h.transcript().constData());
        const QList<double> values = polledValues(rec.states);
        QVERIFY(values.size() >= 2);
        for (qsizetype i = 1; i < values.size(); ++i) // heading for 9000
            QVERIFY2(values[i] >= values[i - 1], qPrintable(QStringLiteral("%1 then %2").arg(values[i - 1]).arg(values[i])));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());

        h.w->cmdQtstOff_Click();
        QCOMPARE(h.w->LpCount, 0);
        QVERIFY(h.w->txtCount->isHidden());
        QVERIFY(h.w->lblCount->isHidden());
        QVERIFY(h.w->cmdQtst->isEnabled());
        // Stopped: no more polls go out.
        QVERIFY(h.waitUntil([&] { return h.hostBytes().endsWith(kEot + kAck); }));
        const qsizetype polls = h.hostBytes().count(pollFrame("C1"));
        QTest::qWait(350);
        QCOMPARE(h.hostBytes().count(pollFrame("C1")), polls);
    }

    // Both loops: each tick the selection, then the poll, and one count.
    void bothLoops()
    {
        SimHarness h;
        QVERIFY2(h.open(), qPrintable(h.error()));
        QVERIFY(toX328WithLink(h, QStringLiteral("5")));
        h.w->optTime_Click(0);
        h.clearLog();
        h.w->combCmd->setEditText(QStringLiteral("SP1 9000"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdCmdtst_Click();
        h.w->cmdQtst_Click();
        QVERIFY(h.waitUntil([&] { return h.w->LpCount >= 4; }, 20000));
        const qint64 ticks = h.w->LpCount;
        QCOMPARE(h.w->txtCount->text(), QString::number(ticks));
        QVERIFY2(kFullPoll.match(QString::fromLatin1(h.transcript())).hasMatch(), h.transcript().constData());
        h.w->cmdCmdtstoff_Click();
        QCOMPARE(h.w->LpCount, ticks); // the query loop still runs
        QVERIFY(!h.w->txtCount->isHidden());
        h.w->cmdQtstOff_Click();
        QCOMPARE(h.w->LpCount, 0);

        const QByteArray tick = selectFrame("SP1 9000") + pollFrame("C1") + kEot + kAck;
        QVERIFY(h.waitUntil([&] { return h.hostBytes().size() >= tick.size() * ticks; }));
        QCOMPARE(h.hostBytes(), tick.repeated(ticks));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
    }
};

QTEST_MAIN(TestE2ETableLoops)
#include "tst_e2e_table_loops.moc"
