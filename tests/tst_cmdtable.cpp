// SPDX-License-Identifier: MIT
// Loading the example ANSI command table and reading the table back, against
// a scripted converter on the line.

#include "support/WindowHarness.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QMap>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kTimeout = "Receive timeout error - no response from UUT";
const QString kQuestion = QStringLiteral("Select target Modbus device|Click Yes to load EZ-Zone registers, No to load F4 registers");

// A converter that keeps a table: "ASSIGN:ANSI n,entry" stores, "ASSIGN:ANSI? n"
// answers the entry (or the empty-slot reply), "*ESR?" answers esr. Every
// line ends with the prompt, as the real one does.
struct TableOrna
{
    QMap<int, QByteArray> table;
    QByteArray esr = "0";
    bool answerEsr = true;
    QSet<int> silentSlots;          // read-back queries left unanswered
    int loseLineAtWrite = -1;       // the line goes away on this write (0 = first)
    std::function<void()> onWrite;  // runs inside every write, while the operation holds the line
    QList<qint64> writeTimes;       // ms since attach, per write
    QElapsedTimer clock;

    void attach(ScriptPort *port)
    {
        clock.start();
        port->responder = [this](ScriptPort &p, const QByteArray &d) { respond(p, d); };
    }

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
            if (answerEsr)
                p.inject(esr + "\n>");
        } else {
            p.inject(">");
        }
    }
};

void prepare(WindowHarness &h)
{
    h.w->Timer1->stop(); // ticks are driven by the tests
    h.init(1);
    h.takeWritten();
}

} // namespace

class TestCommandTable : public QObject
{
    Q_OBJECT
private slots:
    void load_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("Yes: EZ-Zone") << int(UiSeams::Yes)
                                      << QList<QByteArray>{"ASSIGN:ANSI  1,SP1,2160,2160,6,0\n",
                                                           "ASSIGN:ANSI  2,C1,360,0,4,0\n",
                                                           "ASSIGN:ANSI  3,SP9,0,0,12,0\n", "*ESR?\n"};
        QTest::newRow("No: F4") << int(UiSeams::No)
                                << QList<QByteArray>{"ASSIGN:ANSI  1,SP1,300,300,3,1\n",
                                                     "ASSIGN:ANSI  2,C1,100,0,1,1\n", "ASSIGN:ANSI  3,ID,0,0,1,1\n",
                                                     "*ESR?\n"};
    }
    void load()
    {
        QFETCH(int, answer);
        QFETCH(QList<QByteArray>, lines);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.attach(h.port);
        h.seams.answers << UiSeams::Answer(answer);
        const int beeps = h.seams.beeps;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.seams.questions, QStringList{kQuestion});
        QCOMPARE(h.port->writes, lines);
        QCOMPARE(h.transcript(), QByteArray("Commands loaded"));
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, beeps);
        QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("*ESR?"));
        QCOMPARE(h.w->CmdStr, QByteArray("*ESR?"));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        // Each table line is followed by its 0.1 s pause before the next
        // write (a lower bound only: a busy machine can only make it longer).
        QCOMPARE(orna.writeTimes.size(), 4);
        for (int i = 1; i < 4; ++i)
            QVERIFY2(orna.writeTimes[i] - orna.writeTimes[i - 1] >= 99, qPrintable(QString::number(i)));
    }

    void loadCancel()
    {
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.attach(h.port);
        h.w->resultsReplace("earlier transcript");
        h.w->reportError(QStringLiteral("earlier error"), false);
        h.seams.answers << UiSeams::Cancel;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.seams.questions.size(), 1);
        QVERIFY(h.port->writes.isEmpty());
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.transcript(), QByteArray("earlier transcript"));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->Busy());
    }

    void esrCheck_data()
    {
        QTest::addColumn<QByteArray>("esr");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("0") << QByteArray("0") << QByteArray("Commands loaded");
        QTest::newRow("32") << QByteArray("32") << QByteArray("Loading error, ESR Register = 32");
        QTest::newRow("4 with CR kept") << QByteArray("4\r") << QByteArray("Loading error, ESR Register = 4\r");
    }
    void esrCheck()
    {
        QFETCH(QByteArray, esr);
        QFETCH(QByteArray, transcript);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.esr = esr;
        orna.attach(h.port);
        h.seams.answers << UiSeams::Yes;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->Rdg, esr);
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, 0);
    }

    // No answer to this load's "*ESR?": the verdict is "not confirmed", never
    // an older Rdg read as success; the error box keeps the timeout.
    void esrUnanswered_data()
    {
        QTest::addColumn<QByteArray>("earlierAnswer"); // empty: no earlier query
        QTest::newRow("no earlier answer") << QByteArray();
        QTest::newRow("stale zero from an earlier query") << QByteArray("0");
        QTest::newRow("stale error from an earlier query") << QByteArray("32");
    }
    void esrUnanswered()
    {
        QFETCH(QByteArray, earlierAnswer);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.attach(h.port);
        if (!earlierAnswer.isEmpty()) {
            orna.esr = earlierAnswer;
            h.w->combCmd->setEditText(QStringLiteral("*esr?"));
            h.w->cmdSend_Click();
            QCOMPARE(h.w->Rdg, earlierAnswer);
        }
        orna.answerEsr = false;
        h.port->writes.clear();
        h.seams.answers << UiSeams::Yes;
        const int beeps = h.seams.beeps;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.port->writes.size(), 4);
        QCOMPARE(h.port->writes.last(), QByteArray("*ESR?\n"));
        QCOMPARE(h.transcript(), QByteArray("Loading could not be confirmed: no answer to *ESR?"));
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.w->errorText(), QString::fromLatin1(kTimeout));
        QCOMPARE(h.seams.beeps, beeps + 1);
        QCOMPARE(h.w->Rdg, earlierAnswer);
    }

    // The line goes away during slot 2: nothing more is written, no verdict.
    void loadLineLost()
    {
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.loseLineAtWrite = 1;
        orna.attach(h.port);
        h.seams.answers << UiSeams::Yes;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.port->writes, (QList<QByteArray>{"ASSIGN:ANSI  1,SP1,2160,2160,6,0\n",
                                                    "ASSIGN:ANSI  2,C1,360,0,4,0\n"}));
        QCOMPARE(h.transcript(), QByteArray("Loading could not be confirmed: the line closed at slot 2"));
        QVERIFY(h.w->errorShown());
        QVERIFY2(h.w->errorText().contains(QStringLiteral("was lost")), qPrintable(h.w->errorText()));
        QVERIFY(!h.w->Busy());
    }

    // Exit pressed during the first line's wait: no further table line goes
    // out before the disconnect.
    void loadExitRequested()
    {
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.onWrite = [&] { h.w->cmdExit_Click(); };
        orna.attach(h.port);
        h.seams.answers << UiSeams::Yes;

        h.w->cmdLdCmdTable_Click();

        QCOMPARE(h.port->writes,
                 (QList<QByteArray>{"ASSIGN:ANSI  1,SP1,2160,2160,6,0\n", QByteArray("\x10\x05")}));
        QCOMPARE(h.seams.programEnds, 1);
    }

    void readBack_data()
    {
        QTest::addColumn<QList<QByteArray>>("entries"); // slots 1.. in order; the rest empty
        QTest::addColumn<int>("queries");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("three entries, slot 4 empty")
            << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"} << 4
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nSP9,0,0,12,0");
        QTest::newRow("slot 1 empty") << QList<QByteArray>{} << 1 << QByteArray("ANSI Command Table");
        QTest::newRow("0,0,0,0 inside a longer entry")
            << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,10,0,0,0", "ID,0,0,1,1"} << 2
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0");
        QTest::newRow("entry with CR as sent")
            << QList<QByteArray>{"ID,0,0,1,1\r"} << 2 << QByteArray("ANSI Command Table\r\nID,0,0,1,1\r");
    }
    void readBack()
    {
        QFETCH(QList<QByteArray>, entries);
        QFETCH(int, queries);
        QFETCH(QByteArray, transcript);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        for (int i = 0; i < entries.size(); ++i)
            orna.table[i + 1] = entries[i];
        orna.attach(h.port);

        h.w->cmdRdCmdTable_Click();

        QCOMPARE(h.port->writes.size(), queries);
        QCOMPARE(h.port->writes.first(), QByteArray("ASSIGN:ANSI?  1\n"));
        if (queries >= 2)
            QCOMPARE(h.port->writes[1], QByteArray("ASSIGN:ANSI?  2\n"));
        QCOMPARE(h.transcript(), transcript);
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(h.seams.questions.isEmpty());
        const QString last = QStringLiteral("ASSIGN:ANSI?  %1").arg(queries);
        QCOMPARE(h.w->combCmd->currentText(), last);
        QCOMPARE(h.w->CmdStr, last.toLatin1());
    }

    void readBackFullTable()
    {
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        for (int slot = 1; slot <= 100; ++slot)
            orna.table[slot] = "P" + QByteArray::number(slot) + ",1,2,3,4";
        orna.table[101] = "X,9,9,9,9"; // never asked
        orna.attach(h.port);

        h.w->cmdRdCmdTable_Click();

        QCOMPARE(h.port->writes.size(), 100);
        QCOMPARE(h.port->writes[8], QByteArray("ASSIGN:ANSI?  9\n"));
        QCOMPARE(h.port->writes[9], QByteArray("ASSIGN:ANSI?  10\n"));
        QCOMPARE(h.port->writes[99], QByteArray("ASSIGN:ANSI?  100\n"));
        const QList<QByteArray> lines = h.transcript().split('\n');
        QCOMPARE(lines.size(), 101);
        QCOMPARE(lines[0], QByteArray("ANSI Command Table\r"));
        QCOMPARE(lines[1], QByteArray("P1,1,2,3,4\r"));
        QCOMPARE(lines[100], QByteArray("P100,1,2,3,4"));
        QVERIFY(!h.w->errorShown());
    }

    // An unanswered slot is listed as such, never as an older reply, and
    // the next slot is asked; the error box keeps the timeout.
    void readBackUnanswered_data()
    {
        QTest::addColumn<int>("silentSlot");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("slot 1") << 1
                                << QByteArray("ANSI Command Table\r\nslot 1: no answer\r\nC1,360,0,4,0\r\nSP9,0,0,12,0");
        QTest::newRow("slot 3 after two entries")
            << 3 << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nslot 3: no answer");
    }
    void readBackUnanswered()
    {
        QFETCH(int, silentSlot);
        QFETCH(QByteArray, transcript);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.table = {{1, "SP1,2160,2160,6,0"}, {2, "C1,360,0,4,0"}, {3, "SP9,0,0,12,0"}};
        orna.silentSlots << silentSlot;
        orna.attach(h.port);

        h.w->cmdRdCmdTable_Click();

        QCOMPARE(h.port->writes.size(), 4); // on to the empty slot 4
        QCOMPARE(h.transcript(), transcript);
        QVERIFY(!h.w->errorShown()); // hidden again by the next slot's exchange
        QCOMPARE(h.seams.beeps, 1);
    }

    void readBackLineLost()
    {
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.table = {{1, "SP1,2160,2160,6,0"}, {2, "C1,360,0,4,0"}};
        orna.loseLineAtWrite = 1;
        orna.attach(h.port);

        h.w->cmdRdCmdTable_Click();

        QCOMPARE(h.port->writes.size(), 2);
        QCOMPARE(h.transcript(),
                 QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nslot 2: no answer, reading stopped"));
        QVERIFY2(h.w->errorText().contains(QStringLiteral("was lost")), qPrintable(h.w->errorText()));
    }

    // After a language switch through the SCPI exchange the table buttons are
    // still enabled; the table lines must not go out in that language.
    void wrongMode_data()
    {
        QTest::addColumn<QByteArray>("switchText");
        QTest::addColumn<bool>("load");
        QTest::addColumn<QString>("message");
        QTest::newRow("load in X3.28") << QByteArray("SYST:LANG X3.28") << true
                                       << QStringLiteral("Load Examples works only in SCPI mode (current mode: X3.28); nothing was sent");
        QTest::newRow("load in Xon/Xoff") << QByteArray("SYST:LANG XonXoff") << true
                                          << QStringLiteral("Load Examples works only in SCPI mode (current mode: XonXoff); nothing was sent");
        QTest::newRow("read in X3.28") << QByteArray("SYST:LANG X3.28") << false
                                       << QStringLiteral("Read Table works only in SCPI mode (current mode: X3.28); nothing was sent");
        QTest::newRow("read in Xon/Xoff") << QByteArray("SYST:LANG XonXoff") << false
                                          << QStringLiteral("Read Table works only in SCPI mode (current mode: XonXoff); nothing was sent");
    }
    void wrongMode()
    {
        QFETCH(QByteArray, switchText);
        QFETCH(bool, load);
        QFETCH(QString, message);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.attach(h.port);
        h.w->combCmd->setEditText(QString::fromLatin1(switchText));
        h.w->cmdSend_Click();
        QVERIFY(h.w->cmdMode != "SCPI");
        QVERIFY(h.w->cmdLdCmdTable->isEnabled());
        QVERIFY(h.w->cmdRdCmdTable->isEnabled());
        h.port->writes.clear();
        h.w->resultsReplace("before");
        h.seams.answers << UiSeams::Yes;
        const int beeps = h.seams.beeps;

        if (load)
            h.w->cmdLdCmdTable_Click();
        else
            h.w->cmdRdCmdTable_Click();

        QVERIFY(h.port->writes.isEmpty());
        QVERIFY(h.seams.questions.isEmpty());
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.w->errorText(), message);
        QCOMPARE(h.seams.beeps, beeps + 1);
        QCOMPARE(h.transcript(), QByteArray("before"));
    }

    void portClosed_data()
    {
        QTest::addColumn<bool>("load");
        QTest::addColumn<bool>("everOpened");
        QTest::newRow("load, never opened") << true << false;
        QTest::newRow("read, never opened") << false << false;
        QTest::newRow("load, line lost") << true << true;
        QTest::newRow("read, line lost") << false << true;
    }
    void portClosed()
    {
        QFETCH(bool, load);
        QFETCH(bool, everOpened);
        WindowHarness h;
        h.w->Timer1->stop();
        if (everOpened) {
            h.init(1);
            h.port->loseLine();
        }
        TableOrna orna;
        orna.attach(h.port);
        h.seams.answers << UiSeams::Yes;
        const qint64 inputs = h.port->inputCalls;

        if (load)
            h.w->cmdLdCmdTable_Click();
        else
            h.w->cmdRdCmdTable_Click();

        QVERIFY(h.seams.questions.isEmpty());
        QVERIFY(orna.writeTimes.isEmpty());
        QCOMPARE(h.port->inputCalls, inputs);
        QVERIFY(h.w->errorShown());
        QVERIFY2(h.w->errorText().contains(QStringLiteral("COM port")), qPrintable(h.w->errorText()));
    }

    // A table operation holds the line from start to end: clicks are refused
    // and loop ticks skipped, so only the operation's own lines go out.
    void oneOperationAtATime_data()
    {
        QTest::addColumn<bool>("load");
        QTest::newRow("load") << true;
        QTest::newRow("read") << false;
    }
    void oneOperationAtATime()
    {
        QFETCH(bool, load);
        WindowHarness h;
        prepare(h);
        TableOrna orna;
        orna.table = {{1, "SP1,2160,2160,6,0"}, {2, "C1,360,0,4,0"}, {3, "SP9,0,0,12,0"}};
        orna.attach(h.port);
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdCmdtst_Click();
        QCOMPARE(h.w->CMDloopFlg, 1);
        h.seams.answers << UiSeams::Yes << UiSeams::Yes;

        int nestedCalls = 0;
        orna.onWrite = [&] {
            if (nestedCalls++ > 0)
                return;
            // Pending clicks and a tick, served while the first line waits.
            QTimer::singleShot(0, h.w.get(), [&] {
                QVERIFY(h.w->Busy());
                h.w->cmdLdCmdTable_Click();
                h.w->cmdRdCmdTable_Click();
                h.w->cmdSend_Click();
                h.w->Timer1_Timer();
            });
        };
        const qint64 refused = h.w->refusedRequests();
        const qint64 skipped = h.w->skippedTicks();

        if (load)
            h.w->cmdLdCmdTable_Click();
        else
            h.w->cmdRdCmdTable_Click();

        QCOMPARE(h.w->refusedRequests(), refused + 3);
        QCOMPARE(h.w->skippedTicks(), skipped + 1);
        QCOMPARE(h.w->LpCount, qint64(0));
        QCOMPARE(h.seams.questions.size(), load ? 1 : 0);
        if (load) {
            QCOMPARE(h.port->writes.size(), 4);
            QCOMPARE(h.transcript(), QByteArray("Commands loaded"));
        } else {
            QCOMPARE(h.port->writes, (QList<QByteArray>{"ASSIGN:ANSI?  1\n", "ASSIGN:ANSI?  2\n",
                                                         "ASSIGN:ANSI?  3\n", "ASSIGN:ANSI?  4\n"}));
        }
        QVERIFY(!h.w->Busy());
        // The line is free again afterwards.
        h.w->Timer1_Timer();
        QCOMPARE(h.w->LpCount, qint64(1));
    }
};

QTEST_MAIN(TestCommandTable)
#include "tst_cmdtable.moc"
