// SPDX-License-Identifier: MIT
// The SCPI exchange of the send action, on a scripted port.

#include "app/TranscriptBox.h"
#include "support/UserInput.h"
#include "support/WindowHarness.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
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
    // Also when the wait is blocked in the event loop with the line idle: the
    // clicks are handled within the block.
    void clickDuringWaitIsRefused_data()
    {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("between polls") << false;
        QTest::newRow("during an idle block") << true;
    }
    void clickDuringWaitIsRefused()
    {
        QFETCH(bool, blocked);
        WindowHarness h;
        h.init();
        QVERIFY(User::showActive(h.w.get()));
        h.port->mayBlock = blocked;
        h.w->pollPacingMicros = blocked ? 1 : 0; // a full wait blocks 30 ms at most
        int refusedSeen = 0;
        QString busyShown;
        h.port->responder = [&](ScriptPort &p, const QByteArray &data) {
            if (data != "*idn?\n")
                return;
            QTimer::singleShot(blocked ? 5 : 0, &p, [&] {
                User::typeInto(h.w->combCmd, "*cls");
                User::key(Qt::Key_Return); // Enter
                User::click(h.w->cmdSend); // button
                h.w->cmdQuery_Click();
                h.w->cmdSCPI_Click();
                h.w->cmdInit_Click();
                h.w->cmdXonXoff_Click(); // would change the language mid-operation
                refusedSeen = int(h.w->refusedRequests());
                busyShown = h.w->statusBar()->currentMessage();
                h.port->inject("ID\n>");
            });
        };
        h.w->combCmd->setEditText("*idn?");
        h.w->cmdSend_Click();
        QCOMPARE(refusedSeen, 6);
        QCOMPARE(h.seams.beeps, 6); // one per refusal
        if (blocked) // the wait spent its time blocked, not reading
            QVERIFY2(h.port->inputCalls < 100, qPrintable(QString::number(h.port->inputCalls)));
        // Said where it does not outlive the wait: the error box stays free
        // for the exchange's own errors.
        QVERIFY(busyShown.startsWith(QStringLiteral("Busy: ")));
        QCOMPARE(h.w->statusBar()->currentMessage(), QString());
        QVERIFY(!h.w->errorShown());
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
