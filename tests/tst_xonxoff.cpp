// SPDX-License-Identifier: MIT
// Xon/Xoff on the bench session with a scripted port: mode entry, device
// commands and queries with their hold-offs, the escape to SCPI, and what
// ends or interrupts a hold-off.

#include "support/SessionHarness.h"

#include <QTest>
#include <QTimer>

namespace {
// Port open, program (not the converter) in Xon/Xoff mode, no address set.
void xonXoffSession(SessionHarness &h)
{
    QVERIFY(h.init());
    h.s->xonXoff();
    h.takeWritten();
    h.view.beeps = 0;
}

const QByteArray kXOFF("\x13");
const QByteArray kXON("\x11");
const QByteArray kCmdBusy("Received <xoff> -waiting for next string");
const QByteArray kQueryBusy("Received Xoff-waiting for next string");
const QString kNoResponse("Receive timeout error - no response from UUT");
} // namespace

Q_DECLARE_METATYPE(Reply)

class TestXonXoff : public QObject
{
    Q_OBJECT

private slots:
    // A device command or query: input pending before it is dropped (not a
    // hold-off, not the answer), the X3.28 options mean nothing here.
    void exchange_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");

        const QByteArray received = "\r\nReceived Characters: ";
        QTest::newRow("command: hold-off then XON")
            << false << QList<Reply>{{0, 1, kXOFF}, {0, 5, kXON}} << kCmdBusy + received + "<Xon>" << "" << 0;
        QTest::newRow("command: no answer")
            << false << QList<Reply>{{0, 1, "abc"}} << QByteArray("Sent SP1 100") << kNoResponse << 1;
        QTest::newRow("query: hold-off then the value") << true << QList<Reply>{{0, 1, kXOFF}, {0, 4, "\x11" "100\r"}}
                                                        << kQueryBusy + received + "<Xon>100<cr>" << "" << 0;
        QTest::newRow("query: lone CR") << true << QList<Reply>{{0, 1, "\r"}}
                                        << "Sent C1" + received + "13 \r\nDid not receive an ACK or a NAK" << "" << 1;
    }
    void exchange()
    {
        QFETCH(bool, isQuery);
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        SessionHarness h;
        xonXoffSession(h);
        const QString buttons = h.view.enabledButtons();
        h.view.nak = true;
        h.view.count = true;
        h.port->inject(isQuery ? "\r" : kXOFF);
        h.s->reportError(QStringLiteral("earlier"), false);
        h.port->script(replies);

        if (isQuery)
            h.query("C1");
        else
            h.send("SP1 100");

        const QByteArray frame = isQuery ? "? C1\r" : "= SP1 100\r";
        QCOMPARE(h.takeWritten(), frame);
        QCOMPARE(h.state().OutStr, frame);
        QCOMPARE(h.state().CmdStr, isQuery ? QByteArray("C1") : QByteArray("SP1 100"));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.view.errorVisible, !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.view.error, error);
        QCOMPARE(h.view.beeps, beeps);
        QVERIFY(h.view.nak);
        QCOMPARE(h.state().cmdMode, QByteArray("XonXoff"));
        QCOMPARE(h.view.enabledButtons(), buttons);
    }

    void entryChecks()
    {
        SessionHarness h;
        xonXoffSession(h);
        h.send("");
        QCOMPARE(h.view.error, QStringLiteral("Nothing to send"));
        h.query("");
        QCOMPARE(h.view.error, QStringLiteral("Nothing to send"));
        QCOMPARE(h.view.beeps, 2);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.port->closedWrites, 0);

        // No address needed; an empty query box repeats the last command text.
        QVERIFY(!h.state().AddrSetFlg);
        h.port->script({{0, 1, kXON}});
        h.send("SP1 7");
        QCOMPARE(h.takeWritten(), QByteArray("= SP1 7\r"));
        h.port->script({{0, 1, "7\r"}});
        h.s->query();
        QCOMPARE(h.takeWritten(), QByteArray("? SP1 7\r"));
        QCOMPARE(h.view.query, QByteArray("SP1 7"));
        // And an empty command box repeats that query text as a command.
        h.port->script({{0, 1, kXON}});
        h.send("");
        QCOMPARE(h.takeWritten(), QByteArray("= SP1 7\r"));
    }

    void escape()
    {
        SessionHarness h;
        xonXoffSession(h);
        h.s->resultsReplace("before");
        const qint64 inputsBefore = h.port->inputCalls;
        h.send("@@@");
        // Bare: no "= ", no CR, no reply awaited (only the drain read the port).
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.port->inputCalls - inputsBefore, qint64(1));
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(h.view.enabledButtons(), QStringLiteral("cmdSCPI cmdSend cmdQtst cmdCmdtst"));
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Query not active in SCPI mode"));
        QCOMPARE(h.view.transcript, QByteArray("before"));
        QVERIFY(h.state().OutStr.isEmpty());
        QCOMPARE(h.view.beeps, 0);
    }

    void modeEntry()
    {
        SessionHarness h;
        QVERIFY(h.init());
        h.port->script({{0, 1, "5\x06"}});
        h.s->setAddress("5");
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:0"));
        h.takeWritten();
        h.s->reportError(QStringLiteral("kept"), false);
        h.s->resultsReplace("kept too");
        h.view.setEnabled("cmdLdCmdTable", true);
        h.view.setEnabled("cmdQtstOff", true);

        h.s->xonXoff();

        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.state().cmdMode, QByteArray("XonXoff"));
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:1"));
        QCOMPARE(h.view.enabledButtons(), QStringLiteral("cmdSCPI cmdXonXoff cmdSend cmdQuery cmdQtst cmdCmdtst"));
        QCOMPARE(h.view.cmdLbl, QStringLiteral("Enter Xon/Xoff command-space-data i.e. SP1 100"));
        QCOMPARE(h.view.frmDevCmd, QStringLiteral("Xon/Xoff Device Commands"));
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Xon/Xoff Query Only"));
        QVERIFY(h.view.errorVisible);
        QCOMPARE(h.view.error, QStringLiteral("kept"));
        QCOMPARE(h.view.transcript, QByteArray("kept too"));
        QVERIFY(h.state().AddrSetFlg);

        h.s->scpi();
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(h.view.transcript, QByteArray("Sent @@@\r\nSCPI commands enabled"));
    }

    // A hold-off keeps the session live: a lost line or an exit ends it, and
    // other exchanges asked for meanwhile are refused.
    void holdOffInterrupted_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::addColumn<QString>("how");
        for (bool isQuery : {false, true})
            for (const char *how : {"line lost", "exit", "requests"})
                QTest::addRow("%s, %s", isQuery ? "query" : "command", how) << isQuery << QString::fromLatin1(how);
    }
    void holdOffInterrupted()
    {
        QFETCH(bool, isQuery);
        QFETCH(QString, how);
        SessionHarness h;
        xonXoffSession(h);
        int ends = 0;
        QObject::connect(h.s.get(), &BenchSession::ended, h.s.get(), [&ends] { ++ends; });
        // A stream of lone XOFFs, and the interruption well into the hold-offs.
        QList<Reply> holdOffs;
        for (qint64 poll = 10; poll <= 200; poll += 10)
            holdOffs.append({0, poll, kXOFF});
        if (how == "requests")
            holdOffs.append({0, 400, "9\r"});
        h.port->script(holdOffs);
        int acted = 0;
        QTimer t;
        t.setInterval(0);
        QObject::connect(&t, &QTimer::timeout, h.s.get(), [&] {
            if (h.port->inputCalls < 100 || acted > 0)
                return;
            ++acted;
            if (how == "line lost")
                h.port->loseLine();
            else if (how == "exit")
                h.s->requestExit();
            else {
                h.s->send();
                h.s->query();
                h.s->scpi();
            }
        });
        t.start();
        h.view.command = "SP1 100";
        h.view.query = "C1";
        if (isQuery)
            h.s->query();
        else
            h.s->send();
        t.stop();

        QCOMPARE(acted, 1);
        const QByteArray frame = isQuery ? "? C1\r" : "= SP1 100\r";
        const QByteArray busy = isQuery ? kQueryBusy : kCmdBusy;
        if (how == "line lost") {
            QCOMPARE(h.takeWritten(), frame);
            QCOMPARE(h.view.transcript, busy);
            QVERIFY(h.view.errorVisible);
            QVERIFY2(h.view.error.contains(QStringLiteral("lost")), qPrintable(h.view.error));
            QCOMPARE(h.view.beeps, 1);
        } else if (how == "exit") {
            // The exit follows as soon as the exchange has stopped: DLE ENQ goes out.
            QCOMPARE(h.takeWritten(), frame + "\x10\x05");
            QCOMPARE(ends, 1);
            QCOMPARE(h.view.transcript, busy);
            QCOMPARE(h.view.beeps, 0);
        } else {
            QCOMPARE(h.s->refusedRequests(), qint64(3));
            QCOMPARE(h.takeWritten(), frame);
            QCOMPARE(h.view.transcript, busy + "\r\nReceived Characters: 9<cr>");
            QCOMPARE(h.state().cmdMode, QByteArray("XonXoff"));
        }
    }

    void closedPort_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::newRow("command") << false;
        QTest::newRow("query") << true;
    }
    void closedPort()
    {
        QFETCH(bool, isQuery);
        SessionHarness h;
        xonXoffSession(h);
        h.port->loseLine();
        h.s->xonXoff(); // needs no port: the mode the exchanges run in
        h.view.hideError();
        h.view.beeps = 0;
        h.s->resultsReplace("before");
        if (isQuery)
            h.query("C1");
        else
            h.send("SP1 100");
        QVERIFY(h.view.errorVisible);
        QVERIFY2(h.view.error.contains(QStringLiteral("COM port")), qPrintable(h.view.error));
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.port->closedWrites, 0);
        QCOMPARE(h.view.transcript, QByteArray("before"));
        QVERIFY(h.state().CmdStr.isEmpty());
        QCOMPARE(h.state().cmdMode, QByteArray("XonXoff"));
    }
};

QTEST_GUILESS_MAIN(TestXonXoff)
#include "tst_xonxoff.moc"
