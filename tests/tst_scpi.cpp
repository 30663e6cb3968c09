// The SCPI exchange of the send action, on a scripted port.

#include "app/TranscriptBox.h"
#include "support/WindowHarness.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QLineEdit>
#include <QTimer>

using Replies = QList<QPair<int, QByteArray>>;

class TestScpi : public QObject
{
    Q_OBJECT

    // Sends text through the send button of a window opened on COM 1.
    static void send(WindowHarness &h, const QByteArray &text)
    {
        h.w->combCmd->setEditText(QString::fromLatin1(text));
        h.w->cmdSend_Click();
    }

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
        QTest::newRow("prompt in a later poll") << R{{3, "Vek"}, {5, "\n"}, {6, ">"}}
                                                << QByteArray("Sent *idn?\r\nVek") << QByteArray("Vek");
        QTest::newRow("empty reply line") << R{{1, "\n>"}} << QByteArray("Sent *idn?\r\n\r\nPrompt received")
                                          << QByteArray();
        QTest::newRow("LF in the last allowed poll") << R{{30000, "42\n"}} << QByteArray("Sent *idn?\r\n42")
                                                     << QByteArray("42");
        QTest::newRow("text after the line in the same poll")
            << R{{2, "1\nrest>"}} << QByteArray("Sent *idn?\r\n1\r\nPrompt received") << QByteArray("1");
    }
    void queryAnswered()
    {
        QFETCH(Replies, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QByteArray, rdg);
        WindowHarness h;
        h.init();
        h.w->Rdg = "stale";
        for (const auto &r : replies)
            h.port->replyToNext(r.first, r.second);
        send(h, "*idn?");
        QCOMPARE(h.takeWritten(), QByteArray("*idn?\n"));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->Rdg, rdg);
        QCOMPARE(h.w->RdgAnswers, 1);
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.w->CmdStr, QByteArray("*idn?"));
        QCOMPARE(h.w->OutStr, QByteArray("*idn?\n"));
    }

    void queryTimeouts()
    {
        WindowHarness h;
        h.init();
        h.w->Rdg = "earlier";
        h.port->replyToNext(30001, "42\n>"); // one poll too late
        send(h, "*idn?");
        QCOMPARE(h.w->errorText(), QStringLiteral("Receive timeout error - no response from UUT"));
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nNo response"));
        QCOMPARE(h.w->Rdg, QByteArray("earlier"));
        QCOMPARE(h.w->RdgAnswers, 0);
        QCOMPARE(h.port->inputCalls, 1 + 30001); // the drain, then every poll
    }

    void commandPrompt()
    {
        WindowHarness h;
        h.init();
        h.port->replyToNext(10000, ">");
        send(h, "*cls");
        QCOMPARE(h.takeWritten(), QByteArray("*cls\n"));
        QCOMPARE(h.transcript(), QByteArray("Sent *cls\r\nPrompt received"));
        QVERIFY(!h.w->errorShown());

        h.port->replyToNext(10001, ">");
        send(h, "*cls");
        QCOMPARE(h.w->errorText(), QStringLiteral("Prompt not found."));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.transcript(), QByteArray("Sent *cls"));

        // "@@@" means nothing special here: a command like any other.
        h.takeWritten();
        h.port->replyToNext(1, ">");
        send(h, "@@@");
        QCOMPARE(h.takeWritten(), QByteArray("@@@\n"));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
    }

    void switchToX328()
    {
        WindowHarness h;
        h.init();
        h.w->cmdDisconnect->setEnabled(false);
        h.w->cmdQuery->setEnabled(false);
        send(h, "SYST:LANG X3.28");
        QCOMPARE(h.port->writes, (QList<QByteArray>{"SYST:LANG X3.28\n", "SYST:LANG X3.28"}));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(h.w->lblSCPI->isHidden());
        QVERIFY(!h.w->lblX328->isHidden());
        for (QPushButton *b : {h.w->cmdDisconnect, h.w->cmdSet, h.w->cmdSend, h.w->cmdQuery})
            QVERIFY(b->isEnabled());
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter X3.28 command-space-data i.e. SP1 100"));
        QCOMPARE(h.w->frmDevCmd->title(), QStringLiteral("X3.28 Device Commands"));
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Query not active in SCPI mode"));
        QVERIFY(h.w->cmdLdCmdTable->isEnabled()); // left as it was
        QCOMPARE(h.transcript(), QByteArray("Sent SYST:LANG X3.28"));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->AddrSetFlg);
        QCOMPARE(h.port->inputCalls, 1); // only the drain: no reply is awaited
    }

    void switchToXonXoff()
    {
        WindowHarness h;
        h.init();
        h.w->cmdQtstOff->setEnabled(true);
        send(h, "SYST:LANG XonXoff");
        QCOMPARE(h.port->writes, (QList<QByteArray>{"SYST:LANG XonXoff\n", "SYST:LANG XonXoff"}));
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
        QVERIFY(h.w->lblSCPI->isHidden());
        QVERIFY(!h.w->lblXOnXoff->isHidden());
        QVERIFY(h.w->lblX328->isHidden());
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter Xon/Xoff command-space-data i.e. SP1 100"));
        QCOMPARE(h.w->frmDevCmd->title(), QStringLiteral("Xon/Xoff Device Commands"));
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Xon/Xoff Query Only"));
        QVERIFY(!h.w->cmdDisconnect->isEnabled());
        QVERIFY(!h.w->cmdSet->isEnabled());
        QVERIFY(!h.w->cmdQtstOff->isEnabled());
        QVERIFY(!h.w->cmdCmdtstoff->isEnabled());
        for (QPushButton *b : {h.w->cmdSend, h.w->cmdQuery, h.w->cmdQtst, h.w->cmdCmdtst, h.w->cmdLdCmdTable})
            QVERIFY(b->isEnabled());
        QCOMPARE(h.w->combCmd->currentText(), QString());
        QCOMPARE(h.w->CmdStr, QByteArray("SYST:LANG XonXoff"));
    }

    // The sent text is classified in order: "X3.28", "XonXoff", "?", else a
    // command; case counts.
    void switchClassification_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QByteArray>("transcript");
        using L = QList<QByteArray>;
        QTest::newRow("small letters are a command") << QByteArray("syst:lang x3.28") << QByteArray("SCPI")
                                                     << L{"syst:lang x3.28\n"}
                                                     << QByteArray("Sent syst:lang x3.28\r\nPrompt received");
        QTest::newRow("query naming X3.28 is a switch")
            << QByteArray("SYST:LANG X3.28?") << QByteArray("X3.28") << L{"SYST:LANG X3.28?\n", "SYST:LANG X3.28?"}
            << QByteArray("Sent SYST:LANG X3.28?");
        QTest::newRow("query naming XonXoff is a switch")
            << QByteArray("SYST:LANG XonXoff?") << QByteArray("XonXoff")
            << L{"SYST:LANG XonXoff?\n", "SYST:LANG XonXoff?"} << QByteArray("Sent SYST:LANG XonXoff?");
        QTest::newRow("X3.28 before XonXoff")
            << QByteArray("XonXoff X3.28") << QByteArray("X3.28") << L{"XonXoff X3.28\n", "XonXoff X3.28"}
            << QByteArray("Sent XonXoff X3.28");
    }
    void switchClassification()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, mode);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QByteArray, transcript);
        WindowHarness h;
        h.init();
        const bool command = mode == "SCPI";
        if (command)
            h.port->replyToNext(1, ">");
        send(h, text);
        QCOMPARE(h.port->writes, writes);
        QCOMPARE(h.w->cmdMode, mode);
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.port->inputCalls, command ? 2 : 1); // a switch awaits no reply: only the drain
    }

    void entryAndCommandMemory()
    {
        WindowHarness h;
        h.init();
        h.w->combCmd->setEditText("");
        h.w->cmdSend_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Nothing to send"));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.transcript(), QByteArray());

        // An empty entry repeats the last text, whichever box it came from.
        h.w->CmdStr = "C1";
        h.port->replyToNext(1, ">");
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("C1\n"));
        QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("C1"));
        QCOMPARE(h.transcript(), QByteArray("Sent C1\r\nPrompt received"));

        // Pending input is dropped before the write and never shown.
        h.port->inject("junk>");
        h.port->replyToNext(2, "7\n");
        send(h, "*esr?");
        QCOMPARE(h.transcript(), QByteArray("Sent *esr?\r\n7"));
        QCOMPARE(h.w->Rdg, QByteArray("7"));
    }

    void unknownMode()
    {
        WindowHarness h;
        h.init();
        h.w->cmdMode = "scpi";
        h.w->resultsReplace("kept");
        send(h, "*idn?");
        QCOMPARE(h.w->errorText(), QStringLiteral("Unknown mode error, cmdMode$ = scpi"));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.port->writes.size(), 0);
        QCOMPARE(h.transcript(), QByteArray("kept"));
    }

    // A second exchange asked for during a wait is refused; the first goes on.
    void clickDuringWaitIsRefused()
    {
        WindowHarness h;
        h.init();
        int refusedSeen = 0;
        h.port->responder = [&](ScriptPort &p, const QByteArray &data) {
            if (data != "*idn?\n")
                return;
            QTimer::singleShot(0, &p, [&] {
                h.w->combCmd->setEditText("*cls");
                h.w->cmdSend_Click();                                        // button
                QTest::keyClick(h.w->combCmd->lineEdit(), Qt::Key_Return); // Enter
                h.w->cmdQuery_Click();
                h.w->cmdSCPI_Click();
                h.w->cmdInit_Click();
                h.w->cmdXonXoff_Click(); // would change the language mid-operation
                refusedSeen = int(h.w->refusedRequests());
                h.port->inject("ID\n>");
            });
        };
        h.w->combCmd->setEditText("*idn?");
        h.w->cmdSend_Click();
        QCOMPARE(refusedSeen, 6);
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.port->writes, (QList<QByteArray>{"*idn?\n"}));
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nID\r\nPrompt received"));
        QCOMPARE(h.w->Rdg, QByteArray("ID"));
        QCOMPARE(h.seams.dialogRuns, 1); // the refused cmdInit showed no dialog
        QVERIFY(!h.w->Busy());
        QVERIFY(h.port->PortOpen());
        // The line is free again afterwards.
        h.port->replyToNext(1, ">");
        h.w->combCmd->setEditText("*cls");
        h.w->cmdSend_Click();
        QCOMPARE(h.port->writes.size(), 2);
    }

    // A peer that streams without the awaited terminator ends the wait with a
    // clear message; what was shown stays.
    void streamPastTheReceiveBound()
    {
        WindowHarness h;
        h.init();
        const QByteArray chunk(4096, 'x');
        // 160 KiB without a line feed, 4 KiB a poll.
        h.port->responder = [&](ScriptPort &p, const QByteArray &) {
            for (int poll = 1; poll <= 40; ++poll)
                p.replyTo(int(p.writes.size()) - 1, poll, chunk);
        };
        send(h, "*idn?");
        QVERIFY(h.w->errorText().contains(QStringLiteral("overflow")));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?"));
        QVERIFY(h.port->inputCalls < 40);
    }
};

QTEST_MAIN(TestScpi)
#include "tst_scpi.moc"
