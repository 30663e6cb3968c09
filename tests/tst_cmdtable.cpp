// SPDX-License-Identifier: MIT
// Loading the example ANSI command table and reading the table back, against
// a scripted converter on the line.

#include "support/SessionHarness.h"

#include <QElapsedTimer>
#include <QMap>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const QString kTimeout = QStringLiteral("Receive timeout error - no response from UUT");
const QString kQuestion = QStringLiteral("Select target Modbus device|Click Yes to load EZ-Zone registers, No to load F4 registers");
const QList<QByteArray> kEzZone{"ASSIGN:ANSI  1,SP1,2160,2160,6,0\n", "ASSIGN:ANSI  2,C1,360,0,4,0\n",
                                "ASSIGN:ANSI  3,SP9,0,0,12,0\n", "*ESR?\n"};
const QList<QByteArray> kF4{"ASSIGN:ANSI  1,SP1,300,300,3,1\n", "ASSIGN:ANSI  2,C1,100,0,1,1\n",
                            "ASSIGN:ANSI  3,ID,0,0,1,1\n", "*ESR?\n"};
const QList<QByteArray> kExamples{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"};

// A converter that keeps a table: "ASSIGN:ANSI n,entry" stores, "ASSIGN:ANSI? n"
// answers the entry (or the empty-slot reply), "*ESR?" answers esr (nothing
// when empty). Every line ends with the prompt, as the real one does.
struct TableOrna
{
    QMap<int, QByteArray> table;
    QByteArray esr = "0";
    QSet<int> silentSlots;         // read-back queries left unanswered
    int loseLineAtWrite = -1;      // the line goes away on this write (0 = first)
    std::function<void()> onWrite; // runs inside every write, while the operation holds the line
    QList<qint64> writeTimes;      // ms since attach, per write
    QElapsedTimer clock;

    void respond(ScriptPort &p, const QByteArray &d)
    {
        writeTimes << clock.elapsed();
        if (int(p.writes.size()) - 1 == loseLineAtWrite) {
            p.loseLine();
            return;
        }
        if (onWrite)
            onWrite();
        if (!d.endsWith('\n'))
            return;
        const QByteArray line = d.chopped(1);
        if (line.startsWith("ASSIGN:ANSI? ")) {
            const int slot = line.mid(13).trimmed().toInt();
            if (!silentSlots.contains(slot))
                p.inject(table.value(slot, "0,0,0,0,0") + "\n>");
        } else if (line.startsWith("ASSIGN:ANSI ")) {
            const QByteArray rest = line.mid(12);
            const qsizetype comma = rest.indexOf(',');
            table[rest.left(comma).trimmed().toInt()] = rest.mid(comma + 1);
            p.inject(">");
        } else if (line == "*ESR?" || line == "*esr?") {
            if (!esr.isEmpty())
                p.inject(esr + "\n>");
        } else {
            p.inject(">");
        }
    }
};

// The converter on the line (opened unless told otherwise); ticks are
// driven by the tests.
void prepare(SessionHarness &h, TableOrna &orna, bool open = true)
{
    h.s->timer().stop();
    if (open)
        h.init();
    h.takeWritten();
    orna.clock.start();
    h.port->responder = [&orna](ScriptPort &p, const QByteArray &d) { orna.respond(p, d); };
}

// The read-back's queries for slots 1 to n.
QList<QByteArray> queries(int n)
{
    QList<QByteArray> lines;
    for (int slot = 1; slot <= n; ++slot)
        lines << "ASSIGN:ANSI?  " + QByteArray::number(slot) + "\n";
    return lines;
}

} // namespace

class TestCommandTable : public QObject
{
    Q_OBJECT
private slots:
    // Yes loads the EZ-Zone entries, No the F4 ones; the answer to this
    // load's "*ESR?" is the verdict. With no answer it is "not confirmed",
    // never an older Rdg read as success, and the error box keeps the timeout.
    void load_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("earlier"); // Rdg from an earlier "*esr?"; empty: none
        QTest::addColumn<QByteArray>("esr");     // the answer to the load's "*ESR?"; empty: none
        QTest::addColumn<QByteArray>("transcript");
        const int yes = BenchView::Yes;
        const QByteArray none;
        const QByteArray unconfirmed("Loading could not be confirmed: no answer to *ESR?");
        QTest::newRow("Yes: EZ-Zone") << yes << none << QByteArray("0") << QByteArray("Commands loaded");
        QTest::newRow("No: F4") << int(BenchView::No) << none << QByteArray("0") << QByteArray("Commands loaded");
        QTest::newRow("ESR 32") << yes << none << QByteArray("32") << QByteArray("Loading error, ESR Register = 32");
        QTest::newRow("ESR 4 with CR kept")
            << yes << none << QByteArray("4\r") << QByteArray("Loading error, ESR Register = 4\r");
        QTest::newRow("no answer, no earlier one") << yes << none << none << unconfirmed;
        QTest::newRow("no answer, stale zero earlier") << yes << QByteArray("0") << none << unconfirmed;
        QTest::newRow("no answer, stale error earlier") << yes << QByteArray("32") << none << unconfirmed;
    }
    void load()
    {
        QFETCH(int, answer);
        QFETCH(QByteArray, earlier);
        QFETCH(QByteArray, esr);
        QFETCH(QByteArray, transcript);
        SessionHarness h;
        TableOrna orna;
        prepare(h, orna);
        if (!earlier.isEmpty()) {
            orna.esr = earlier;
            h.send("*esr?");
            QCOMPARE(h.state().Rdg, earlier);
            h.port->writes.clear();
            orna.writeTimes.clear();
        }
        orna.esr = esr;
        h.view.answers << BenchView::Answer(answer);

        h.s->loadTable();

        QCOMPARE(h.view.questions, QStringList{kQuestion});
        QCOMPARE(h.port->writes, answer == BenchView::Yes ? kEzZone : kF4);
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.state().Rdg, esr.isEmpty() ? earlier : esr);
        QCOMPARE(h.view.errorVisible, esr.isEmpty());
        if (esr.isEmpty())
            QCOMPARE(h.view.error, kTimeout);
        QCOMPARE(h.view.beeps, esr.isEmpty() ? 1 : 0);
        QCOMPARE(h.view.command, QByteArray("*ESR?"));
        QCOMPARE(h.state().CmdStr, QByteArray("*ESR?"));
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        // Each table line is followed by its 0.1 s pause before the next
        // write (a lower bound only: a busy machine can only make it longer).
        QCOMPARE(orna.writeTimes.size(), 4);
        for (int i = 1; i < 4; ++i)
            QVERIFY2(orna.writeTimes[i] - orna.writeTimes[i - 1] >= 99, qPrintable(QString::number(i)));
    }

    void loadCancel()
    {
        SessionHarness h;
        TableOrna orna;
        prepare(h, orna);
        h.s->resultsReplace("earlier transcript");
        h.s->reportError(QStringLiteral("earlier error"), false);
        h.view.answers << BenchView::Cancel;

        h.s->loadTable();

        QCOMPARE(h.view.questions.size(), 1);
        QVERIFY(h.port->writes.isEmpty());
        QVERIFY(!h.view.errorVisible);
        QCOMPARE(h.view.transcript, QByteArray("earlier transcript"));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.s->busy());
    }

    // Slot by slot up to an empty slot (or a reply holding 0,0,0,0), or up to
    // slot 100. An unanswered slot is listed as such, never as an older
    // reply, and the next slot is asked; the error box it showed is hidden
    // again by the next slot's exchange, its beep stays.
    void readBack_data()
    {
        QTest::addColumn<QList<QByteArray>>("entries"); // slots 1.. in order; the rest empty
        QTest::addColumn<int>("silentSlot");            // 0: every slot answers
        QTest::addColumn<int>("asked");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("three entries, slot 4 empty")
            << kExamples << 0 << 4
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nSP9,0,0,12,0");
        QTest::newRow("slot 1 empty") << QList<QByteArray>{} << 0 << 1 << QByteArray("ANSI Command Table");
        QTest::newRow("0,0,0,0 inside a longer entry")
            << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,10,0,0,0", "ID,0,0,1,1"} << 0 << 2
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0");
        QTest::newRow("entry with CR as sent")
            << QList<QByteArray>{"ID,0,0,1,1\r"} << 0 << 2 << QByteArray("ANSI Command Table\r\nID,0,0,1,1\r");
        QList<QByteArray> full;
        QByteArray listing("ANSI Command Table");
        for (int slot = 1; slot <= 100; ++slot) {
            full << "P" + QByteArray::number(slot) + ",1,2,3,4";
            listing += "\r\n" + full.last();
        }
        full << "X,9,9,9,9"; // slot 101: never asked
        QTest::newRow("full table") << full << 0 << 100 << listing;
        QTest::newRow("slot 1 unanswered")
            << kExamples << 1 << 4
            << QByteArray("ANSI Command Table\r\nslot 1: no answer\r\nC1,360,0,4,0\r\nSP9,0,0,12,0");
        QTest::newRow("slot 3 unanswered after two entries")
            << kExamples << 3 << 4
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nslot 3: no answer");
    }
    void readBack()
    {
        QFETCH(QList<QByteArray>, entries);
        QFETCH(int, silentSlot);
        QFETCH(int, asked);
        QFETCH(QByteArray, transcript);
        SessionHarness h;
        TableOrna orna;
        for (int i = 0; i < entries.size(); ++i)
            orna.table[i + 1] = entries[i];
        if (silentSlot)
            orna.silentSlots << silentSlot;
        prepare(h, orna);

        h.s->readTable();

        QCOMPARE(h.port->writes, queries(asked));
        QCOMPARE(h.view.transcript, transcript);
        QVERIFY(!h.view.errorVisible);
        QCOMPARE(h.view.beeps, silentSlot ? 1 : 0);
        QVERIFY(h.view.questions.isEmpty());
        const QByteArray last = queries(asked).last().chopped(1);
        QCOMPARE(h.view.command, last);
        QCOMPARE(h.state().CmdStr, last);
    }

    // The line lost during slot 2, or an exit asked for during slot 1's
    // wait: nothing more of the table goes out (the exit's disconnect does).
    void cutShort_data()
    {
        QTest::addColumn<bool>("load");
        QTest::addColumn<bool>("exit");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QByteArray>("transcript"); // with the line lost
        QTest::newRow("load, line lost") << true << false << kEzZone.first(2)
                                         << QByteArray("Loading could not be confirmed: the line closed at slot 2");
        QTest::newRow("read, line lost")
            << false << false << queries(2)
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nslot 2: no answer, reading stopped");
        QTest::newRow("load, exit") << true << true << QList<QByteArray>{kEzZone[0], "\x10\x05"} << QByteArray();
    }
    void cutShort()
    {
        QFETCH(bool, load);
        QFETCH(bool, exit);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QByteArray, transcript);
        SessionHarness h;
        TableOrna orna;
        orna.table = {{1, kExamples[0]}, {2, kExamples[1]}};
        if (exit)
            orna.onWrite = [&] { h.s->requestExit(); };
        else
            orna.loseLineAtWrite = 1;
        prepare(h, orna);
        QSignalSpy ended(h.s.get(), &BenchSession::ended);
        h.view.answers << BenchView::Yes;

        load ? h.s->loadTable() : h.s->readTable();

        QCOMPARE(h.port->writes, writes);
        QCOMPARE(ended.count(), exit ? 1 : 0);
        if (!exit) {
            QCOMPARE(h.view.transcript, transcript);
            QVERIFY(h.view.errorVisible);
            QVERIFY2(h.view.error.contains(QStringLiteral("was lost")), qPrintable(h.view.error));
        }
        QVERIFY(!h.s->busy());
    }

    // Refused before anything goes out: the table lines are SCPI (after a
    // language switch through the SCPI exchange the table buttons are still
    // enabled, and the lines must not go out in that language), and they
    // need an open port.
    void refused_data()
    {
        QTest::addColumn<bool>("load");
        QTest::addColumn<int>("line"); // 0: never opened, 1: lost, 2: open
        QTest::addColumn<QByteArray>("switchText");
        QTest::addColumn<QString>("message");
        const QString notOpen = QStringLiteral("The COM port is not open: use Initialize COM Port first.");
        const QString lost = QStringLiteral("The COM port is closed: COM 1 (/dev/script1) was lost: the far end hung "
                                            "up. Use Initialize COM Port to open it again.");
        const auto wrongMode = [](const char *operation, const char *mode) {
            return QStringLiteral("%1 works only in SCPI mode (current mode: %2); nothing was sent")
                .arg(QLatin1String(operation), QLatin1String(mode));
        };
        QTest::newRow("load in X3.28") << true << 2 << QByteArray("SYST:LANG X3.28")
                                       << wrongMode("Load Examples", "X3.28");
        QTest::newRow("load in Xon/Xoff")
            << true << 2 << QByteArray("SYST:LANG XonXoff") << wrongMode("Load Examples", "XonXoff");
        QTest::newRow("read in X3.28") << false << 2 << QByteArray("SYST:LANG X3.28")
                                       << wrongMode("Read Table", "X3.28");
        QTest::newRow("read in Xon/Xoff")
            << false << 2 << QByteArray("SYST:LANG XonXoff") << wrongMode("Read Table", "XonXoff");
        QTest::newRow("load, never opened") << true << 0 << QByteArray() << notOpen;
        QTest::newRow("read, never opened") << false << 0 << QByteArray() << notOpen;
        QTest::newRow("load, line lost") << true << 1 << QByteArray() << lost;
        QTest::newRow("read, line lost") << false << 1 << QByteArray() << lost;
    }
    void refused()
    {
        QFETCH(bool, load);
        QFETCH(int, line);
        QFETCH(QByteArray, switchText);
        QFETCH(QString, message);
        SessionHarness h;
        TableOrna orna;
        prepare(h, orna, line != 0);
        if (!switchText.isEmpty()) {
            h.send(switchText);
            QVERIFY(h.view.isEnabled("cmdLdCmdTable"));
            QVERIFY(h.view.isEnabled("cmdRdCmdTable"));
        }
        if (line == 1)
            h.port->loseLine();
        h.port->writes.clear();
        h.s->resultsReplace("before");
        h.view.answers << BenchView::Yes;
        const int beeps = h.view.beeps;
        const qint64 inputs = h.port->inputCalls;

        load ? h.s->loadTable() : h.s->readTable();

        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.port->closedWrites, 0);
        QCOMPARE(h.port->inputCalls, inputs);
        QVERIFY(h.view.questions.isEmpty());
        QVERIFY(h.view.errorVisible);
        QCOMPARE(h.view.error, message);
        QCOMPARE(h.view.beeps, beeps + 1);
        QCOMPARE(h.view.transcript, QByteArray("before"));
    }

    // A table operation holds the line from start to end: other operations
    // are refused and loop ticks skipped, so only the operation's own lines
    // go out.
    void oneOperationAtATime_data()
    {
        QTest::addColumn<bool>("load");
        QTest::newRow("load") << true;
        QTest::newRow("read") << false;
    }
    void oneOperationAtATime()
    {
        QFETCH(bool, load);
        SessionHarness h;
        TableOrna orna;
        orna.table = {{1, "SP1,2160,2160,6,0"}, {2, "C1,360,0,4,0"}, {3, "SP9,0,0,12,0"}};
        prepare(h, orna);
        h.view.command = "*idn?";
        QVERIFY(h.s->startCommandLoop());
        h.view.answers << BenchView::Yes << BenchView::Yes;

        int nestedCalls = 0;
        orna.onWrite = [&] {
            if (nestedCalls++ > 0)
                return;
            // Pending requests and a tick, served while the first line waits.
            QTimer::singleShot(0, h.s.get(), [&] {
                QVERIFY(h.s->busy());
                h.s->loadTable();
                h.s->readTable();
                h.s->send();
                h.s->tick();
            });
        };
        const qint64 refused = h.s->refusedRequests();
        const qint64 skipped = h.s->skippedTicks();

        load ? h.s->loadTable() : h.s->readTable();

        QCOMPARE(h.s->refusedRequests(), refused + 3);
        QCOMPARE(h.s->skippedTicks(), skipped + 1);
        QCOMPARE(h.state().LpCount, qint64(0));
        QCOMPARE(h.view.questions.size(), load ? 1 : 0);
        if (load) {
            QCOMPARE(h.port->writes.size(), 4);
            QCOMPARE(h.view.transcript, QByteArray("Commands loaded"));
        } else {
            QCOMPARE(h.port->writes, queries(4));
        }
        QVERIFY(!h.s->busy());
        // The line is free again afterwards.
        h.s->tick();
        QCOMPARE(h.state().LpCount, qint64(1));
    }
};

QTEST_GUILESS_MAIN(TestCommandTable)
#include "tst_cmdtable.moc"
