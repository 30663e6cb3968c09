// SPDX-License-Identifier: MIT
// The SCPI exchange of the send action, on a scripted port.

#include "support/SessionHarness.h"

#include <QTest>

using Replies = QList<QPair<int, QByteArray>>;

class TestScpi : public QObject
{
    Q_OBJECT

private slots:
    void queryAnswered_data()
    {
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QByteArray>("rdg");
        using R = Replies;
        QTest::newRow("reply and prompt together")
            << R{{1, "Vek,Orna,1,1.0\r\n>"}} << QByteArray("Sent *idn?\r\nVek,Orna,1,1.0\r\r\nPrompt received")
            << QByteArray("Vek,Orna,1,1.0\r");
    }
    void queryAnswered()
    {
        QFETCH(Replies, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QByteArray, rdg);
        SessionHarness h;
        h.init();
        h.state().Rdg = "stale";
        for (const auto &r : replies)
            h.port->replyToNext(r.first, r.second);
        h.send("*idn?");
        QCOMPARE(h.takeWritten(), QByteArray("*idn?\n"));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.state().Rdg, rdg);
        QCOMPARE(h.state().RdgAnswers, 1);
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
        QCOMPARE(h.state().CmdStr, QByteArray("*idn?"));
        QCOMPARE(h.state().OutStr, QByteArray("*idn?\n"));
    }

    void queryTimeouts()
    {
        SessionHarness h;
        h.init();
        h.state().Rdg = "earlier";
        h.port->replyToNext(30001, "42\n>"); // one poll too late
        h.send("*idn?");
        QCOMPARE(h.view.error, QStringLiteral("Receive timeout error - no response from UUT"));
        QVERIFY(h.view.errorVisible);
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.view.transcript, QByteArray("Sent *idn?\r\nNo response"));
        QCOMPARE(h.state().Rdg, QByteArray("earlier"));
        QCOMPARE(h.state().RdgAnswers, 0);
        QCOMPARE(h.port->inputCalls, 1 + 30001); // the drain, then every poll

        // Blocked in the event loop while the line is idle, a wait counts the
        // time it stood idle as polls: with nothing coming it ends by its count
        // (here 30000 polls of 1 us), not after 30000 real polls.
        SessionHarness b;
        b.init();
        b.port->mayBlock = true;
        b.s->pollPacingMicros = 1;
        b.send("*idn?");
        QCOMPARE(b.view.error, QStringLiteral("Receive timeout error - no response from UUT"));
        QVERIFY2(b.port->inputCalls < 1000, qPrintable(QString::number(b.port->inputCalls)));
    }
    void switchToX328()
    {
        SessionHarness h;
        h.init();
        h.view.setEnabled("cmdDisconnect", false);
        h.view.setEnabled("cmdQuery", false);
        h.send("SYST:LANG X3.28");
        QCOMPARE(h.port->writes, (QList<QByteArray>{"SYST:LANG X3.28\n", "SYST:LANG X3.28"}));
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QVERIFY(!h.view.lblSCPI);
        QVERIFY(h.view.lblX328);
        for (const char *b : {"cmdDisconnect", "cmdSet", "cmdSend", "cmdQuery"})
            QVERIFY2(h.view.isEnabled(b), b);
        QCOMPARE(h.view.cmdLbl, QStringLiteral("Enter X3.28 command-space-data i.e. SP1 100"));
        QCOMPARE(h.view.frmDevCmd, QStringLiteral("X3.28 Device Commands"));
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Query not active in SCPI mode"));
        QVERIFY(h.view.isEnabled("cmdLdCmdTable")); // left as it was
        QCOMPARE(h.view.transcript, QByteArray("Sent SYST:LANG X3.28"));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.state().AddrSetFlg);
        QCOMPARE(h.port->inputCalls, 1); // only the drain: no reply is awaited
    }

    void switchToXonXoff()
    {
        SessionHarness h;
        h.init();
        h.view.setEnabled("cmdQtstOff", true);
        h.send("SYST:LANG XonXoff");
        QCOMPARE(h.port->writes, (QList<QByteArray>{"SYST:LANG XonXoff\n", "SYST:LANG XonXoff"}));
        QCOMPARE(h.state().cmdMode, QByteArray("XonXoff"));
        QVERIFY(!h.view.lblSCPI);
        QVERIFY(h.view.lblXOnXoff);
        QVERIFY(!h.view.lblX328);
        QCOMPARE(h.view.cmdLbl, QStringLiteral("Enter Xon/Xoff command-space-data i.e. SP1 100"));
        QCOMPARE(h.view.frmDevCmd, QStringLiteral("Xon/Xoff Device Commands"));
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Xon/Xoff Query Only"));
        for (const char *b : {"cmdDisconnect", "cmdSet", "cmdQtstOff", "cmdCmdtstoff"})
            QVERIFY2(!h.view.isEnabled(b), b);
        for (const char *b : {"cmdSend", "cmdQuery", "cmdQtst", "cmdCmdtst", "cmdLdCmdTable"})
            QVERIFY2(h.view.isEnabled(b), b);
        QCOMPARE(h.view.command, QByteArray());
        QCOMPARE(h.state().CmdStr, QByteArray("SYST:LANG XonXoff"));
    }
    void entryAndCommandMemory()
    {
        SessionHarness h;
        h.init();
        h.send("");
        QCOMPARE(h.view.error, QStringLiteral("Nothing to send"));
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.view.transcript, QByteArray());

        // An empty entry repeats the last text, whichever box it came from.
        h.state().CmdStr = "C1";
        h.port->replyToNext(1, ">");
        h.s->send();
        QCOMPARE(h.takeWritten(), QByteArray("C1\n"));
        QCOMPARE(h.view.command, QByteArray("C1"));
        QCOMPARE(h.view.transcript, QByteArray("Sent C1\r\nPrompt received"));

        // Pending input is dropped before the write and never shown.
        h.port->inject("junk>");
        h.port->replyToNext(2, "7\n");
        h.send("*esr?");
        QCOMPARE(h.view.transcript, QByteArray("Sent *esr?\r\n7"));
        QCOMPARE(h.state().Rdg, QByteArray("7"));
    }

    void unknownMode()
    {
        SessionHarness h;
        h.init();
        h.state().cmdMode = "scpi";
        h.s->resultsReplace("kept");
        h.send("*idn?");
        QCOMPARE(h.view.error, QStringLiteral("Unknown mode error, cmdMode$ = scpi"));
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.view.transcript, QByteArray("kept"));
    }

    // A peer that streams without the awaited terminator ends the wait with a
    // clear message; what was shown stays.
    void streamPastTheReceiveBound()
    {
        SessionHarness h;
        h.init();
        const QByteArray chunk(4096, 'x');
        // 160 KiB without a line feed, 4 KiB a poll.
        h.port->responder = [&](ScriptPort &p, const QByteArray &) {
            for (int poll = 1; poll <= 40; ++poll)
                p.replyTo(int(p.writes.size()) - 1, poll, chunk);
        };
        h.send("*idn?");
        QVERIFY(h.view.error.contains(QStringLiteral("overflow")));
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.view.transcript, QByteArray("Sent *idn?"));
        QVERIFY(h.port->inputCalls < 40);
    }
};

QTEST_GUILESS_MAIN(TestScpi)
#include "tst_scpi.moc"
