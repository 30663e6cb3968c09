// SPDX-License-Identifier: MIT
// The command and query loops: the interval choice, starting and stopping,
// what one tick does, the count, and ticks that must not reach the line.

#include "support/SessionHarness.h"

#include "serial/LineMonitor.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Replies = QMap<QByteArray, QByteArray>; // the converter's answer to each write

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

// An open port; ticks are driven by the tests.
void prepare(SessionHarness &h)
{
    h.s->timer().stop();
    h.init();
    h.takeWritten();
}

// X3.28 through the SCPI switch (with the link as after its opening), or
// Xon/Xoff by its button; SCPI stays as it is.
void enterMode(SessionHarness &h, const QByteArray &mode)
{
    if (mode == "X3.28") {
        h.send("SYST:LANG X3.28");
        h.state().AddrSetFlg = true;
    } else if (mode == "XonXoff") {
        h.s->xonXoff();
    }
    QCOMPARE(h.state().cmdMode, mode);
    h.port->writes.clear();
}

// Starts the loop of each entry given (an empty one stays off).
void startLoops(SessionHarness &h, const QByteArray &command, const QByteArray &query)
{
    h.view.command = command;
    h.view.query = query;
    if (!command.isEmpty())
        QVERIFY(h.s->startCommandLoop());
    if (!query.isEmpty())
        QVERIFY(h.s->startQueryLoop());
}

// The count, shown with its label.
void verifyCount(SessionHarness &h, qint64 count)
{
    QCOMPARE(h.state().LpCount, count);
    QVERIFY(h.s->loops().countShown());
    QVERIFY(h.s->loops().countLabelShown());
    QCOMPARE(h.s->loops().countText(), QString::number(count));
}

} // namespace

class TestLoops : public QObject
{
    Q_OBJECT
private slots:
    // The interval options; any other index changes nothing.
    void intervalOptions()
    {
        SessionHarness h;
        const int ms[] = {100, 200, 300, 500, 1000};
        for (int i : {4, 0, 1, 2, 3}) { // from 500 ms, each a change
            h.s->chooseInterval(i);
            QCOMPARE(h.s->timer().interval(), ms[i]);
        }
        h.s->chooseInterval(5);
        h.s->chooseInterval(-1);
        QCOMPARE(h.s->timer().interval(), 500);
        QVERIFY(h.s->timer().isActive());
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
        SessionHarness h;
        prepare(h);
        // The other box holds text: only the loop's own box counts.
        h.view.command = commandLoop ? "" : "*idn?";
        h.view.query = commandLoop ? "C1" : "";
        h.s->resultsReplace("before");

        QVERIFY(!(commandLoop ? h.s->startCommandLoop() : h.s->startQueryLoop()));

        QCOMPARE(h.view.transcript, message);
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.state().CMDloopFlg, 0);
        QCOMPARE(h.state().QloopFlg, 0);
        QVERIFY(!h.view.errorVisible);
        QVERIFY(h.port->writes.isEmpty());
    }

    // Both loops: each tick runs the command exchange, then the query
    // exchange, and counts once. In SCPI mode the query loop reports the
    // unknown mode; the error box shows that report only because the query
    // step came after the command exchange (which hides the box first).
    void oneTickBothLoops_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QList<QByteArray>>("writes"); // one tick's
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::newRow("SCPI") << QByteArray("SCPI") << Replies{{"*idn?\n", "Vek Orna\n>"}}
                              << QList<QByteArray>{"*idn?\n"}
                              << QByteArray("Sent *idn?\r\nVek Orna\r\nPrompt received") << kUnknownScpi;
        QTest::newRow("Xon/Xoff") << QByteArray("XonXoff") << Replies{{"= SP1 100\r", "\x11"}, {"? C1\r", "100\r"}}
                                  << QList<QByteArray>{"= SP1 100\r", "? C1\r"}
                                  << QByteArray("Sent C1\r\nReceived Characters: 100<cr>") << QString();
        // The selection, then the whole poll.
        QTest::newRow("X3.28") << QByteArray("X3.28")
                               << Replies{{"\x02= SP1 100\x03", "\x06"},
                                          {"\x02? C1\x03", "\x06"},
                                          {"\x04", "\x02" "100\r\x03"},
                                          {"\x06", "\x04"}}
                               << QList<QByteArray>{"\x02= SP1 100\x03", "\x02? C1\x03", "\x04", "\x06"}
                               << QByteArray("Received Characters:  6 \r\nReceived  ACK\r\n"
                                             "Received STX 100<cr> ETX\r\nReceived EOT")
                               << QString();
    }
    void oneTickBothLoops()
    {
        QFETCH(QByteArray, mode);
        QFETCH(Replies, replies);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        SessionHarness h;
        prepare(h);
        enterMode(h, mode);
        h.port->responder = [&replies](ScriptPort &p, const QByteArray &d) { p.inject(replies.value(d)); };
        startLoops(h, mode == "SCPI" ? "*idn?" : "SP1 100", "C1");

        QList<QByteArray> written;
        for (int tick = 1; tick <= 2; ++tick) {
            h.s->tick();
            written += writes;
            QCOMPARE(h.port->writes, written);
            QCOMPARE(h.view.transcript, transcript);
            QCOMPARE(h.view.errorVisible, !error.isEmpty());
            QCOMPARE(h.view.error, error);
            QCOMPARE(h.view.beeps, error.isEmpty() ? 0 : tick);
            verifyCount(h, tick);
        }
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
        SessionHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startLoops(h, "*idn?", "C1");
        h.s->tick();
        QCOMPARE(h.state().LpCount, qint64(1));
        h.port->writes.clear();

        stopCommandFirst ? h.s->stopCommandLoop() : h.s->stopQueryLoop();

        // The other loop goes on, visible and counting.
        QCOMPARE(h.state().CMDloopFlg, stopCommandFirst ? 0 : 1);
        QCOMPARE(h.state().QloopFlg, stopCommandFirst ? 1 : 0);
        verifyCount(h, 1);
        h.s->tick();
        verifyCount(h, 2);
        if (stopCommandFirst) {
            QVERIFY(h.port->writes.isEmpty());
            QCOMPARE(h.view.error, kUnknownScpi);
        } else {
            QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
            QVERIFY(!h.view.errorVisible);
        }

        stopCommandFirst ? h.s->stopQueryLoop() : h.s->stopCommandLoop();

        QVERIFY(!h.s->loops().countShown());
        QVERIFY(!h.s->loops().countLabelShown());
        QCOMPARE(h.state().LpCount, qint64(0));
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
        SessionHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startLoops(h, "*idn?", {});
        h.state().LpCount = before;

        h.s->tick();

        QCOMPARE(h.state().LpCount, before + 1);
        QCOMPARE(h.s->loops().countText(), shown);
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
        SessionHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        startLoops(h, "*idn?", "C1");
        // The buttons as the window leaves them after both starts.
        const char *const starts[] = {"cmdCmdtst", "cmdQtst"}, *const stops[] = {"cmdCmdtstoff", "cmdQtstOff"};
        for (int i = 0; i < 2; ++i) {
            h.view.setEnabled(starts[i], false);
            h.view.setEnabled(stops[i], true);
        }

        switch (change) {
        case 0: h.s->scpi(); break;
        case 1: h.s->xonXoff(); break;
        case 2: h.init(); break;
        case 3: h.send("SYST:LANG XonXoff"); break;
        case 4: h.s->disconnectLink(); break;
        case 5: h.send("SYST:LANG X3.28"); break;
        }

        QCOMPARE(h.state().CMDloopFlg, 1);
        QCOMPARE(h.state().QloopFlg, 1);
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(h.view.isEnabled(stops[i]) == stopEnabledAfter, stops[i]);
            QVERIFY2(h.view.isEnabled(starts[i]) != stopEnabledAfter, starts[i]);
        }

        // Start again, then stop: the only way out with a disabled stop button.
        // (Most of the changes empty the command box; the start wants a text.)
        startLoops(h, "*idn?", "C1");
        QCOMPARE(h.state().CMDloopFlg, 1);
        QCOMPARE(h.state().QloopFlg, 1);
        h.s->stopCommandLoop();
        h.s->stopQueryLoop();
        QCOMPARE(h.state().CMDloopFlg, 0);
        QCOMPARE(h.state().QloopFlg, 0);
    }

    // A query loop started in X3.28 mode runs on after the SCPI button; each
    // tick reports the unknown mode with one beep, writes nothing, and counts.
    void queryLoopInScpiMode()
    {
        SessionHarness h;
        prepare(h);
        h.port->responder = answerScpi;
        enterMode(h, "X3.28");
        startLoops(h, {}, "C1");
        h.s->scpi();
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.state().QloopFlg, 1);
        h.port->writes.clear();
        h.s->resultsReplace("before");
        const int beeps = h.view.beeps;

        for (int tick = 1; tick <= 3; ++tick) {
            h.view.hideError();
            h.s->tick();
            QVERIFY(h.view.errorVisible);
            QCOMPARE(h.view.error, kUnknownScpi);
            QCOMPARE(h.view.beeps, beeps + tick);
            verifyCount(h, tick);
        }
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.view.transcript, QByteArray("before"));
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
        SessionHarness h;
        prepare(h);
        h.s->timer().setInterval(intervalMs);
        h.port->mayBlock = blocked;
        // A full wait blocks 100 ms (the prompt) to 300 ms at most: room for the
        // 5 ms timer and its handler on a slow, instrumented build.
        h.s->pollPacingMicros = blocked ? 10 : 0;
        if (!blocked)
            h.port->replyToNext(20, "Vek Orna\n>");
        h.view.command = "*idn?";
        h.view.query = "C1";
        // The loop whose tick falls due (in SCPI mode a served query tick would show an error).
        QVERIFY(outerIsTick ? h.s->startCommandLoop() : h.s->startQueryLoop());
        bool ranWhileBusy = false;
        QTimer::singleShot(blocked ? 5 : 0, h.s.get(), [&] {
            ranWhileBusy = h.s->busy();
            h.s->tick();
            if (blocked)
                h.port->inject("Vek Orna\n>");
        });
        const qint64 skipped = h.s->skippedTicks();

        if (outerIsTick)
            h.s->tick();
        else
            h.s->send();

        QVERIFY(ranWhileBusy);
        if (blocked) // the wait spent its time blocked, not reading
            QVERIFY2(h.port->inputCalls < 100, qPrintable(QString::number(h.port->inputCalls)));
        QCOMPARE(h.s->skippedTicks(), skipped + 1);
        // The skipped tick is the running loop's; the outer tick's exchange counts.
        const LoopStats &stats = outerIsTick ? h.s->loops().commandStats() : h.s->loops().queryStats();
        if (intervalMs > 1)
            QCOMPARE(stats.skippedBusy, qint64(1));
        else // the nested tick, and at least the 5 ms the wait lasted
            QVERIFY2(stats.skippedBusy >= 1 + 5, qPrintable(QString::number(stats.skippedBusy)));
        QCOMPARE(stats.run(), qint64(outerIsTick ? 1 : 0));
        QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
        QVERIFY2(!h.view.errorVisible, qPrintable(h.view.error));
        QCOMPARE(h.view.beeps, 0);
        QCOMPARE(h.view.transcript, QByteArray("Sent *idn?\r\nVek Orna\r\nPrompt received"));
        QCOMPARE(h.state().LpCount, qint64(outerIsTick ? 1 : 0));
        QCOMPARE(h.s->loops().countShown(), outerIsTick);
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
        SessionHarness h;
        h.s->timer().stop();
        if (how != 0)
            h.init();
        h.port->responder = answerScpi;
        startLoops(h, "*idn?", {});
        const qint64 skipped = h.s->skippedTicks();
        const qint64 inputs = h.port->inputCalls;

        bool closedAtTick = false;
        const auto tick = [&] {
            closedAtTick = !h.port->PortOpen();
            h.s->tick();
        };
        if (how == 1)
            h.port->loseLine();
        if (how == 2) {
            h.s->init([&] {
                tick();
                return PortChoice{1, QStringLiteral("9600,N,8,1")};
            });
            QVERIFY(h.port->PortOpen());
        } else {
            tick();
        }

        QVERIFY(closedAtTick);
        QCOMPARE(h.s->skippedTicks(), skipped + 1);
        // While the dialog is up the line is held: busy rather than closed.
        QCOMPARE(h.s->loops().commandStats().skippedClosed, qint64(how == 2 ? 0 : 1));
        QCOMPARE(h.s->loops().commandStats().skippedBusy, qint64(how == 2 ? 1 : 0));
        QCOMPARE(h.port->inputCalls, inputs);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.state().LpCount, qint64(0));
        QVERIFY(!h.s->loops().countShown());
        QCOMPARE(h.state().CMDloopFlg, 1);

        if (how == 2) {
            // The loop survived the re-initialisation and runs on the open port
            // (which emptied the command box and the command memory).
            h.view.command = "*idn?";
            h.s->tick();
            QCOMPARE(h.port->writes, QList<QByteArray>{"*idn?\n"});
            QCOMPARE(h.state().LpCount, qint64(1));
        }
    }

    // A stop during the tick's exchange clears the flag at once; the tick
    // still shows and counts 1, and the next tick hides the count (the label
    // stays) and resets it.
    void stopDuringTick()
    {
        SessionHarness h;
        prepare(h);
        startLoops(h, "*idn?", {});
        h.port->responder = [&](ScriptPort &p, const QByteArray &d) {
            h.s->stopCommandLoop();
            answerScpi(p, d);
        };

        h.s->tick();

        QCOMPARE(h.state().CMDloopFlg, 0);
        QCOMPARE(h.port->writes.size(), 1);
        verifyCount(h, 1);

        h.s->tick();

        QCOMPARE(h.port->writes.size(), 1);
        QCOMPARE(h.state().LpCount, qint64(0));
        QVERIFY(!h.s->loops().countShown());
        QVERIFY(h.s->loops().countLabelShown());
    }

    // Exit asked for while the tick's command waits: the query step sends
    // nothing, the tick is not counted, the line gets its disconnect.
    void exitDuringTick()
    {
        SessionHarness h;
        prepare(h);
        enterMode(h, "XonXoff");
        startLoops(h, "SP1 100", "C1");
        QSignalSpy ended(h.s.get(), &BenchSession::ended);
        h.port->responder = [&](ScriptPort &, const QByteArray &d) {
            if (d == "= SP1 100\r")
                h.s->requestExit();
        };

        h.s->tick();

        QCOMPARE(h.port->writes, (QList<QByteArray>{"= SP1 100\r", QByteArray("\x10\x05")}));
        QCOMPARE(ended.count(), 1);
        QCOMPARE(h.state().LpCount, qint64(0));
    }

    // The loop statistics count each exchange once, by how it ended; the
    // tick counts whatever the outcome; a loop that starts again counts
    // from zero.
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
        SessionHarness h;
        prepare(h);
        enterMode(h, mode);
        startLoops(h, {}, "C1");
        h.port->script(replies);
        h.port->loseOnWrite = loseOnWrite;

        h.s->tick();

        const LoopStats &s = h.s->loops().queryStats();
        QCOMPARE(s.run(), qint64(1));
        for (int o = 0; o < kOutcomeCount; ++o)
            QVERIFY2(s.count(ExchangeOutcome(o)) == (o == outcome ? 1 : 0), qPrintable(outcomeKey(ExchangeOutcome(o))));
        QCOMPARE(s.holdOffs, qint64(holdOffs));
        QCOMPARE(s.times.count(), qint64(timed ? 1 : 0));
        QCOMPARE(h.s->loops().commandStats().run(), qint64(0));
        QCOMPARE(h.state().LpCount, qint64(1));
        // The monitor holds the same outcome.
        const MonitorRecord *last = h.s->lineMonitor().find(h.s->lineMonitor().lastSeq());
        QCOMPARE(last->kind, MonitorRecord::Result);
        QVERIFY2(last->bytes.startsWith("query " + outcomeKey(ExchangeOutcome(outcome)).toLatin1()), last->bytes);

        if (h.port->PortOpen()) {
            h.s->stopQueryLoop();
            QVERIFY(h.s->startQueryLoop());
            QCOMPARE(h.s->loops().queryStats().run(), qint64(0));
        }
    }

    // A failed exchange still counts its tick, and the loop goes on; started
    // again, it counts from zero.
    void failedExchangeCounts()
    {
        SessionHarness h;
        prepare(h);
        startLoops(h, "*idn?", {}); // no converter answers

        h.s->tick();
        h.s->tick();

        QCOMPARE(h.port->writes.size(), 2);
        QCOMPARE(h.view.error, QStringLiteral("Receive timeout error - no response from UUT"));
        QCOMPARE(h.view.beeps, 2);
        QCOMPARE(h.state().LpCount, qint64(2));
        QCOMPARE(h.state().CMDloopFlg, 1);
        QCOMPARE(h.s->loops().commandStats().run(), qint64(2));
        h.s->stopCommandLoop();
        QVERIFY(h.s->startCommandLoop());
        QCOMPARE(h.s->loops().commandStats().run(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestLoops)
#include "tst_loops.moc"
