// SPDX-License-Identifier: MIT
// The command and query loops: the interval choice, starting and stopping,
// what one tick does, the count and its display, and ticks that must not
// reach the line.

#include "support/WindowHarness.h"

#include "serial/LineMonitor.h"
#include "serial/frmPorts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kUnknownScpi = QStringLiteral("Unknown mode error, cmdMode$ = SCPI");

// SCPI converter: "*idn?" is answered, every other line gets the prompt.
void answerScpi(ScriptPort &p, const QByteArray &d)
{
    if (d == "*idn?\n")
        p.inject("Vek Orna\n>");
    else if (d.endsWith('\n'))
        p.inject(">");
}

void prepare(WindowHarness &h)
{
    h.w->Timer1->stop(); // ticks are driven by the tests
    h.init(1);
    h.takeWritten();
}

void startBoth(WindowHarness &h, const QString &command, const QString &query)
{
    h.w->combCmd->setEditText(command);
    h.w->combQuery->setEditText(query);
    h.w->cmdCmdtst_Click();
    h.w->cmdQtst_Click();
    QCOMPARE(h.w->CMDloopFlg, 1);
    QCOMPARE(h.w->QloopFlg, 1);
}

} // namespace

class TestLoops : public QObject
{
    Q_OBJECT
private slots:
    void startUp()
    {
        WindowHarness h;
        QVERIFY(h.w->Timer1->isActive());
        QCOMPARE(h.w->Timer1->interval(), 500);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(h.w->optTime[i]->isChecked(), i == 3);
        QCOMPARE(h.w->CMDloopFlg, 0);
        QCOMPARE(h.w->QloopFlg, 0);
        QCOMPARE(h.w->LpCount, qint64(0));
        QVERIFY(h.w->txtCount->isHidden());
        QVERIFY(h.w->lblCount->isHidden());
        for (QPushButton *b : {h.w->cmdCmdtst, h.w->cmdCmdtstoff, h.w->cmdQtst, h.w->cmdQtstOff})
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        // A tick with no loop running does nothing visible.
        h.w->Timer1->stop();
        h.w->Timer1_Timer();
        QVERIFY(h.w->txtCount->isHidden());
        QCOMPARE(h.w->LpCount, qint64(0));
    }

    void intervalOptions_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("interval");
        QTest::newRow("0") << 0 << QStringLiteral("100 ms") << 100;
        QTest::newRow("1") << 1 << QStringLiteral("200 ms") << 200;
        QTest::newRow("2") << 2 << QStringLiteral("300 ms") << 300;
        QTest::newRow("3") << 3 << QStringLiteral("500 ms") << 500;
        QTest::newRow("4") << 4 << QStringLiteral("1 sec") << 1000;
        // The handler is public; any other index changes nothing.
        QTest::newRow("5, no such member") << 5 << QString() << 0;
        QTest::newRow("-1, no such member") << -1 << QString() << 0;
    }
    void intervalOptions()
    {
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(int, interval);
        WindowHarness h;
        if (caption.isEmpty()) {
            h.w->optTime[4]->click();
            h.w->optTime_Click(index);
            QCOMPARE(h.w->Timer1->interval(), 1000);
            QVERIFY(h.w->optTime[4]->isChecked());
            return;
        }
        QCOMPARE(h.w->optTime[index]->text(), caption);
        // Start from another member so that every row really changes something.
        h.w->optTime[index == 4 ? 0 : 4]->click();
        QVERIFY(h.w->Timer1->interval() != interval);
        h.w->optTime[index]->click();
        QCOMPARE(h.w->Timer1->interval(), interval);
        QVERIFY(h.w->optTime[index]->isChecked());
        QVERIFY(h.w->Timer1->isActive());
    }

    void emptyBoxAtStart_data()
    {
        QTest::addColumn<bool>("commandLoop");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("command loop")
            << true << QByteArray("No command specified.  Enter a command before starting the Command Loop");
        QTest::newRow("query loop")
            << false << QByteArray("No query specified.  Enter a command before starting the Command Loop");
    }
    void emptyBoxAtStart()
    {
        QFETCH(bool, commandLoop);
        QFETCH(QByteArray, message);
        WindowHarness h;
        prepare(h);
        // The other box holds text: only the loop's own box counts.
        h.w->combCmd->setEditText(commandLoop ? QString() : QStringLiteral("*idn?"));
        h.w->combQuery->setEditText(commandLoop ? QStringLiteral("C1") : QString());
        h.w->resultsReplace("before");

        if (commandLoop)
            h.w->cmdCmdtst_Click();
        else
            h.w->cmdQtst_Click();

        QCOMPARE(h.transcript(), message);
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->CMDloopFlg, 0);
        QCOMPARE(h.w->QloopFlg, 0);
        QVERIFY(h.w->cmdCmdtst->isEnabled());
        QVERIFY(h.w->cmdQtst->isEnabled());
        QVERIFY(!h.w->cmdCmdtstoff->isEnabled());
        QVERIFY(!h.w->cmdQtstOff->isEnabled());
        QVERIFY(!h.w->errorShown());
        QVERIFY(h.port->writes.isEmpty());
    }

    // Both loops in SCPI mode: the command is an SCPI query, the query loop
    // reports the unknown mode. The error box shows that report only if the
    // query step came after the command exchange (which hides the box first).
    void oneTickBothLoops()
    {
        WindowHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startBoth(h, QStringLiteral("*idn?"), QStringLiteral("C1"));
        QVERIFY(!h.w->cmdCmdtst->isEnabled());
        QVERIFY(h.w->cmdCmdtstoff->isEnabled());
        QVERIFY(!h.w->cmdQtst->isEnabled());
        QVERIFY(h.w->cmdQtstOff->isEnabled());

        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nVek Orna\r\nPrompt received"));
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.w->errorText(), kUnknownScpi);
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->LpCount, qint64(1));
        QVERIFY(!h.w->txtCount->isHidden());
        QVERIFY(!h.w->lblCount->isHidden());
        QCOMPARE(h.w->txtCount->text(), QStringLiteral("1"));

        h.w->Timer1_Timer();
        QCOMPARE(h.port->writes.size(), 2);
        QCOMPARE(h.w->txtCount->text(), QStringLiteral("2"));
    }

    // The same with both exchanges writing: command line first, then query.
    void oneTickBothLoopsXonXoff()
    {
        WindowHarness h;
        prepare(h);
        h.port->responder = [](ScriptPort &p, const QByteArray &d) {
            if (d == "= SP1 100\r")
                p.inject("\x11");
            else if (d == "? C1\r")
                p.inject("100\r");
        };
        h.w->cmdXonXoff_Click();
        startBoth(h, QStringLiteral("SP1 100"), QStringLiteral("C1"));

        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes, (QList<QByteArray>{"= SP1 100\r", "? C1\r"}));
        QVERIFY2(!h.w->errorShown(), qPrintable(h.w->errorText()));
        QCOMPARE(h.transcript(), QByteArray("Sent C1\r\nReceived Characters: 100<cr>"));
        QCOMPARE(h.w->LpCount, qint64(1));
        QCOMPARE(h.w->txtCount->text(), QStringLiteral("1"));
    }

    // X3.28: the selection, then the whole poll, in one counted tick.
    void oneTickBothLoopsX328()
    {
        WindowHarness h;
        prepare(h);
        h.w->combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
        h.w->cmdSend_Click();
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        h.w->AddrSetFlg = true; // as after the link was opened
        h.port->writes.clear();
        h.port->responder = [](ScriptPort &p, const QByteArray &d) {
            if (d == "\x02= SP1 100\x03" || d == "\x02? C1\x03")
                p.inject("\x06");
            else if (d == "\x04")
                p.inject("\x02" "100\r\x03");
            else if (d == "\x06")
                p.inject("\x04");
        };
        startBoth(h, QStringLiteral("SP1 100"), QStringLiteral("C1"));

        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes, (QList<QByteArray>{"\x02= SP1 100\x03", "\x02? C1\x03", "\x04", "\x06"}));
        QVERIFY2(!h.w->errorShown(), qPrintable(h.w->errorText()));
        QVERIFY(h.transcript().endsWith("Received EOT"));
        QCOMPARE(h.w->LpCount, qint64(1));
    }

    void stopOneOfTwo_data()
    {
        QTest::addColumn<bool>("stopCommandFirst");
        QTest::newRow("command loop stopped first") << true;
        QTest::newRow("query loop stopped first") << false;
    }
    void stopOneOfTwo()
    {
        QFETCH(bool, stopCommandFirst);
        WindowHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startBoth(h, QStringLiteral("*idn?"), QStringLiteral("C1"));
        h.w->Timer1_Timer();
        QCOMPARE(h.w->LpCount, qint64(1));
        h.port->writes.clear();

        if (stopCommandFirst)
            h.w->cmdCmdtstoff_Click();
        else
            h.w->cmdQtstOff_Click();

        // The other loop goes on, visible and counting.
        QCOMPARE(h.w->CMDloopFlg, stopCommandFirst ? 0 : 1);
        QCOMPARE(h.w->QloopFlg, stopCommandFirst ? 1 : 0);
        QCOMPARE(h.w->cmdCmdtst->isEnabled(), stopCommandFirst);
        QCOMPARE(h.w->cmdCmdtstoff->isEnabled(), !stopCommandFirst);
        QCOMPARE(h.w->cmdQtst->isEnabled(), !stopCommandFirst);
        QCOMPARE(h.w->cmdQtstOff->isEnabled(), stopCommandFirst);
        QVERIFY(!h.w->txtCount->isHidden());
        QVERIFY(!h.w->lblCount->isHidden());
        QCOMPARE(h.w->LpCount, qint64(1));
        h.w->Timer1_Timer();
        QCOMPARE(h.w->LpCount, qint64(2));
        QCOMPARE(h.w->txtCount->text(), QStringLiteral("2"));
        if (stopCommandFirst) {
            QVERIFY(h.port->writes.isEmpty());
            QCOMPARE(h.w->errorText(), kUnknownScpi);
        } else {
            QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
            QVERIFY(!h.w->errorShown());
        }

        if (stopCommandFirst)
            h.w->cmdQtstOff_Click();
        else
            h.w->cmdCmdtstoff_Click();

        QVERIFY(h.w->txtCount->isHidden());
        QVERIFY(h.w->lblCount->isHidden());
        QCOMPARE(h.w->LpCount, qint64(0));
        QVERIFY(h.w->cmdCmdtst->isEnabled());
        QVERIFY(h.w->cmdQtst->isEnabled());
        QVERIFY(!h.w->cmdCmdtstoff->isEnabled());
        QVERIFY(!h.w->cmdQtstOff->isEnabled());
    }

    void countPast32767_data()
    {
        QTest::addColumn<qint64>("before");
        QTest::addColumn<QString>("shown");
        QTest::newRow("16-bit edge") << qint64(32767) << QStringLiteral("32768");
        QTest::newRow("unsigned 16-bit edge") << qint64(65535) << QStringLiteral("65536");
        QTest::newRow("32-bit edge") << qint64(2147483647) << QStringLiteral("2147483648");
    }
    void countPast32767()
    {
        QFETCH(qint64, before);
        QFETCH(QString, shown);
        WindowHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdCmdtst_Click();
        h.w->LpCount = before;

        h.w->Timer1_Timer();

        QCOMPARE(h.w->LpCount, before + 1);
        QCOMPARE(h.w->txtCount->text(), shown);
    }

    // The mode changes that reset the loop buttons leave the flags alone: the
    // loop keeps running with its stop button disabled, until its start
    // button is pressed again. Disconnect and the SCPI switch to X3.28 leave
    // the buttons as they were.
    void loopKeptThroughModeChange_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("stopEnabledAfter");
        QTest::newRow("SCPI button") << 0 << false;
        QTest::newRow("Xon/Xoff button") << 1 << false;
        QTest::newRow("port initialisation") << 2 << false;
        QTest::newRow("SCPI switch to Xon/Xoff") << 3 << false;
        QTest::newRow("disconnect") << 4 << true;
        QTest::newRow("SCPI switch to X3.28") << 5 << true;
    }
    void loopKeptThroughModeChange()
    {
        QFETCH(int, change);
        QFETCH(bool, stopEnabledAfter);
        WindowHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startBoth(h, QStringLiteral("*idn?"), QStringLiteral("C1"));

        switch (change) {
        case 0: h.w->cmdSCPI_Click(); break;
        case 1: h.w->cmdXonXoff_Click(); break;
        case 2: h.init(1); break;
        case 3:
            h.w->combCmd->setEditText(QStringLiteral("SYST:LANG XonXoff"));
            h.w->cmdSend_Click();
            break;
        case 4: h.w->cmdDisconnect_Click(); break;
        case 5:
            h.w->combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
            h.w->cmdSend_Click();
            break;
        }

        QCOMPARE(h.w->CMDloopFlg, 1);
        QCOMPARE(h.w->QloopFlg, 1);
        QCOMPARE(h.w->cmdCmdtstoff->isEnabled(), stopEnabledAfter);
        QCOMPARE(h.w->cmdQtstOff->isEnabled(), stopEnabledAfter);
        QCOMPARE(h.w->cmdCmdtst->isEnabled(), !stopEnabledAfter);
        QCOMPARE(h.w->cmdQtst->isEnabled(), !stopEnabledAfter);

        // Start again, then stop: the only way out with a disabled stop button.
        // (Most of the changes empty the command box; the start wants a text.)
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdCmdtst_Click();
        h.w->cmdQtst_Click();
        QCOMPARE(h.w->CMDloopFlg, 1);
        QCOMPARE(h.w->QloopFlg, 1);
        QVERIFY(h.w->cmdCmdtstoff->isEnabled());
        QVERIFY(h.w->cmdQtstOff->isEnabled());
        h.w->cmdCmdtstoff_Click();
        h.w->cmdQtstOff_Click();
        QCOMPARE(h.w->CMDloopFlg, 0);
        QCOMPARE(h.w->QloopFlg, 0);
    }

    // A query loop started in X3.28 mode runs on after the SCPI button; each
    // tick reports the unknown mode with one beep, writes nothing, and counts.
    void queryLoopInScpiMode()
    {
        WindowHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        h.w->combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
        h.w->cmdSend_Click();
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdQtst_Click();
        h.w->cmdSCPI_Click();
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.w->QloopFlg, 1);
        QVERIFY(!h.w->cmdQtstOff->isEnabled());
        h.port->writes.clear();
        h.w->resultsReplace("before");
        const int beeps = h.seams.beeps;

        for (int tick = 1; tick <= 3; ++tick) {
            h.w->hideError();
            h.w->Timer1_Timer();
            QVERIFY(h.w->errorShown());
            QCOMPARE(h.w->errorText(), kUnknownScpi);
            QCOMPARE(h.seams.beeps, beeps + tick);
            QCOMPARE(h.w->LpCount, qint64(tick));
            QCOMPARE(h.w->txtCount->text(), QString::number(tick));
        }
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.transcript(), QByteArray("before"));
    }

    // A tick that falls due while an exchange waits is skipped: nothing
    // nested on the line, not counted. The waiting exchange is a button's or
    // an earlier tick's.
    void tickSkippedDuringWait_data()
    {
        QTest::addColumn<bool>("outerIsTick");
        QTest::addColumn<bool>("blocked"); // the wait blocked in the event loop, the line idle
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("during a button's exchange") << false << false << 1000;
        QTest::newRow("during an earlier tick's exchange") << true << false << 1000;
        QTest::newRow("during an idle block") << false << true << 1000;
        // The timer does not tick into its own handler: the intervals that
        // the tick's wait outlasted count as skipped too.
        QTest::newRow("a tick outlasting its interval") << true << true << 1;
    }
    void tickSkippedDuringWait()
    {
        QFETCH(bool, outerIsTick);
        QFETCH(bool, blocked);
        QFETCH(int, intervalMs);
        WindowHarness h;
        prepare(h);
        h.w->Timer1->setInterval(intervalMs);
        h.port->mayBlock = blocked;
        // A full wait blocks 100 ms (the prompt) to 300 ms at most: room for the
        // 5 ms timer and its handler on a slow, instrumented build.
        h.w->pollPacingMicros = blocked ? 10 : 0;
        if (!blocked)
            h.port->replyToNext(20, "Vek Orna\n>");
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdQtst_Click(); // in SCPI mode a served query tick would show an error
        if (outerIsTick) {
            h.w->cmdQtstOff_Click();
            h.w->cmdCmdtst_Click();
        }
        bool ranWhileBusy = false;
        QTimer::singleShot(blocked ? 5 : 0, h.w.get(), [&] {
            ranWhileBusy = h.w->Busy();
            h.w->Timer1_Timer();
            if (blocked)
                h.port->inject("Vek Orna\n>");
        });
        const qint64 skipped = h.w->skippedTicks();

        if (outerIsTick)
            h.w->Timer1_Timer();
        else
            h.w->cmdSend_Click();

        QVERIFY(ranWhileBusy);
        if (blocked) // the wait spent its time blocked, not reading
            QVERIFY2(h.port->inputCalls < 100, qPrintable(QString::number(h.port->inputCalls)));
        QCOMPARE(h.w->skippedTicks(), skipped + 1);
        // The skipped tick is the running loop's; the outer tick's exchange counts.
        const LoopStats &stats = outerIsTick ? h.w->commandLoopStats() : h.w->queryLoopStats();
        if (intervalMs > 1)
            QCOMPARE(stats.skippedBusy, qint64(1));
        else // the nested tick, and at least the 5 ms the wait lasted
            QVERIFY2(stats.skippedBusy >= 1 + 5, qPrintable(QString::number(stats.skippedBusy)));
        QCOMPARE(stats.run(), qint64(outerIsTick ? 1 : 0));
        QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
        QVERIFY2(!h.w->errorShown(), qPrintable(h.w->errorText()));
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nVek Orna\r\nPrompt received"));
        QCOMPARE(h.w->LpCount, qint64(outerIsTick ? 1 : 0));
        QCOMPARE(h.w->txtCount->isHidden(), !outerIsTick);
    }

    // Ticks while the port is closed write nothing and are not counted.
    void tickWithPortClosed_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("never opened") << 0;
        QTest::newRow("line lost") << 1;
        QTest::newRow("settings dialog open") << 2;
    }
    void tickWithPortClosed()
    {
        QFETCH(int, how);
        WindowHarness h;
        h.w->Timer1->stop();
        if (how != 0)
            h.init(1);
        h.port->responder = answerScpi;
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdCmdtst_Click();
        QCOMPARE(h.w->CMDloopFlg, 1);
        const qint64 skipped = h.w->skippedTicks();
        const qint64 inputs = h.port->inputCalls;

        bool closedAtTick = false;
        switch (how) {
        case 0:
        case 1:
            if (how == 1)
                h.port->loseLine();
            closedAtTick = !h.port->PortOpen();
            h.w->Timer1_Timer();
            break;
        case 2:
            h.seams.dialog = [&](frmPorts &d) {
                closedAtTick = !h.port->PortOpen();
                h.w->Timer1_Timer();
                d.cmdCOM_Click(1);
                d.cmdExit_Click();
            };
            h.w->cmdInit_Click();
            QVERIFY(h.port->PortOpen());
            break;
        }

        QVERIFY(closedAtTick);
        QCOMPARE(h.w->skippedTicks(), skipped + 1);
        // While the dialog is up the line is held: busy rather than closed.
        QCOMPARE(h.w->commandLoopStats().skippedClosed, qint64(how == 2 ? 0 : 1));
        QCOMPARE(h.w->commandLoopStats().skippedBusy, qint64(how == 2 ? 1 : 0));
        QCOMPARE(h.port->inputCalls, inputs);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.w->LpCount, qint64(0));
        QVERIFY(h.w->txtCount->isHidden());
        QCOMPARE(h.w->CMDloopFlg, 1);

        if (how == 2) {
            // The loop survived the re-initialisation and runs on the open port
            // (which emptied the command box and the command memory).
            h.w->combCmd->setEditText(QStringLiteral("*idn?"));
            h.w->Timer1_Timer();
            QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
            QCOMPARE(h.w->LpCount, qint64(1));
        }
    }

    // A stop during the tick's exchange clears the flag at once; the tick
    // still shows and counts 1, and the next tick hides the count (the label
    // stays) and resets it.
    void stopDuringTick()
    {
        WindowHarness h;
        prepare(h);
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        h.w->cmdCmdtst_Click();
        h.port->responder = [&](ScriptPort &p, const QByteArray &d) {
            h.w->cmdCmdtstoff_Click();
            answerScpi(p, d);
        };

        h.w->Timer1_Timer();

        QCOMPARE(h.w->CMDloopFlg, 0);
        QCOMPARE(h.port->writes.size(), 1);
        QCOMPARE(h.w->LpCount, qint64(1));
        QVERIFY(!h.w->txtCount->isHidden());
        QVERIFY(!h.w->lblCount->isHidden());

        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes.size(), 1);
        QCOMPARE(h.w->LpCount, qint64(0));
        QVERIFY(h.w->txtCount->isHidden());
        QVERIFY(!h.w->lblCount->isHidden());
    }

    // Exit pressed while the tick's command waits: the query step sends
    // nothing, the tick is not counted, the line gets its disconnect.
    void exitDuringTick()
    {
        WindowHarness h;
        prepare(h);
        h.w->cmdXonXoff_Click();
        startBoth(h, QStringLiteral("SP1 100"), QStringLiteral("C1"));
        h.port->responder = [&](ScriptPort &, const QByteArray &d) {
            if (d == "= SP1 100\r")
                h.w->cmdExit_Click();
        };

        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes, (QList<QByteArray>{"= SP1 100\r", QByteArray("\x10\x05")}));
        QCOMPARE(h.seams.programEnds, 1);
        QCOMPARE(h.w->LpCount, qint64(0));
    }

    // The loop statistics count each exchange once, by how it ended; a
    // loop that starts again counts from zero.
    void statisticsCountEachOutcome_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<bool>("loseOnWrite");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("holdOffs");
        QTest::addColumn<bool>("timed"); // the last wait got its byte: a response time
        const QByteArray data("\x02" "100\r\x03");
        using O = ExchangeOutcome;
        QTest::newRow("ok") << QByteArray("X3.28") << QList<Reply>{{0, 1, "\x06"}, {1, 1, data}, {2, 1, "\x04"}} << false
                            << int(O::Ok) << 0 << true;
        QTest::newRow("timeout") << QByteArray("X3.28") << QList<Reply>{} << false << int(O::Timeout) << 0 << false;
        QTest::newRow("NAK") << QByteArray("X3.28") << QList<Reply>{{0, 1, "\x15"}} << false << int(O::Nak) << 0 << true;
        QTest::newRow("bad data block") << QByteArray("X3.28") << QList<Reply>{{0, 1, "\x06"}, {1, 1, "100\r\x03"}} << false
                                        << int(O::BadData) << 0 << true;
        QTest::newRow("extra bytes after EOT") << QByteArray("X3.28")
                                               << QList<Reply>{{0, 1, "\x06"}, {1, 1, data}, {2, 1, "\x04zz"}} << false
                                               << int(O::ExtraBytes) << 0 << true;
        QTest::newRow("line lost") << QByteArray("X3.28") << QList<Reply>{} << true << int(O::LineLost) << 0 << false;
        QTest::newRow("receive overflow") << QByteArray("X3.28") << QList<Reply>{{0, 1, QByteArray(70000, 'z')}} << false
                                          << int(O::Overflow) << 0 << false;
        QTest::newRow("not sent") << QByteArray("SCPI") << QList<Reply>{} << false << int(O::NotSent) << 0 << false;
        QTest::newRow("hold-off") << QByteArray("XonXoff") << QList<Reply>{{0, 1, "\x13"}, {0, 3, "\x11" "100\r"}}
                                  << false << int(O::Ok) << 1 << true;
    }
    void statisticsCountEachOutcome()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QList<Reply>, replies);
        QFETCH(bool, loseOnWrite);
        QFETCH(int, outcome);
        QFETCH(int, holdOffs);
        QFETCH(bool, timed);
        WindowHarness h;
        prepare(h);
        if (mode == "X3.28") {
            h.w->combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
            h.w->cmdSend_Click();
            h.w->AddrSetFlg = true; // as after the link was opened
        } else if (mode == "XonXoff") {
            h.w->cmdXonXoff_Click();
        }
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdQtst_Click();
        h.script(replies);
        h.port->loseOnWrite = loseOnWrite;

        h.w->Timer1_Timer();

        const LoopStats &s = h.w->queryLoopStats();
        QCOMPARE(s.run(), qint64(1));
        for (int o = 0; o < kOutcomeCount; ++o)
            QVERIFY2(s.count(ExchangeOutcome(o)) == (o == outcome ? 1 : 0), qPrintable(outcomeKey(ExchangeOutcome(o))));
        QCOMPARE(s.holdOffs, qint64(holdOffs));
        QCOMPARE(s.times.count(), qint64(timed ? 1 : 0));
        QCOMPARE(h.w->commandLoopStats().run(), qint64(0));
        // The monitor holds the same outcome, and the summary shows it.
        const MonitorRecord *last = h.w->lineMonitor().find(h.w->lineMonitor().lastSeq());
        QCOMPARE(last->kind, MonitorRecord::Result);
        QVERIFY2(last->bytes.startsWith("query " + outcomeKey(ExchangeOutcome(outcome)).toLatin1()), last->bytes);
        QCOMPARE(h.w->lblLoopStats->isHidden(), false);

        if (h.port->PortOpen()) {
            h.w->cmdQtstOff_Click();
            h.w->cmdQtst_Click();
            QCOMPARE(h.w->queryLoopStats().run(), qint64(0));
        }
    }

    // A failed exchange still counts its tick, and the loop goes on.
    void failedExchangeCounts()
    {
        WindowHarness h;
        prepare(h);
        h.w->combCmd->setEditText(QStringLiteral("*idn?")); // no converter answers
        h.w->cmdCmdtst_Click();

        h.w->Timer1_Timer();
        h.w->Timer1_Timer();

        QCOMPARE(h.port->writes.size(), 2);
        QCOMPARE(h.w->errorText(), QStringLiteral("Receive timeout error - no response from UUT"));
        QCOMPARE(h.seams.beeps, 2);
        QCOMPARE(h.w->LpCount, qint64(2));
        QCOMPARE(h.w->CMDloopFlg, 1);
        // Started again, the loop counts from zero.
        QCOMPARE(h.w->commandLoopStats().run(), qint64(2));
        h.w->cmdCmdtstoff_Click();
        h.w->cmdCmdtst_Click();
        QCOMPARE(h.w->commandLoopStats().run(), qint64(0));
    }
};

QTEST_MAIN(TestLoops)
#include "tst_loops.moc"
