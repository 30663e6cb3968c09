// SPDX-License-Identifier: MIT
// Xon/Xoff on the headless window with a scripted port: mode entry, device
// commands and queries with their hold-offs, the escape to SCPI, and what
// ends or interrupts a hold-off.

#include "support/WindowHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
QString enabledButtons(frmMain &w)
{
    QStringList on;
    for (QPushButton *b : {w.cmdSet, w.cmdDisconnect, w.cmdSCPI, w.cmdXonXoff, w.cmdSend, w.cmdQuery, w.cmdQtst,
                           w.cmdQtstOff, w.cmdCmdtst, w.cmdCmdtstoff, w.cmdLdCmdTable, w.cmdRdCmdTable})
        if (b->isEnabled())
            on << b->objectName();
    return on.join(' ');
}

// Port open, program (not the converter) in Xon/Xoff mode, no address set.
void xonXoffWindow(WindowHarness &h)
{
    h.init(1);
    h.w->cmdXonXoff_Click();
    h.takeWritten();
    h.seams.beeps = 0;
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
    void command_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<bool>("timeout");

        const QByteArray sent = "Sent SP1 100\r\nReceived Characters: ";
        const QByteArray busy = kCmdBusy + "\r\nReceived Characters: ";
        QTest::newRow("hold-off then XON") << QList<Reply>{{0, 1, kXOFF}, {0, 5, kXON}} << busy + "<Xon>" << false;
        // Each hold-off starts a fresh count of 30000 polls.
        QTest::newRow("no answer") << QList<Reply>{{0, 1, "abc"}} << QByteArray("Sent SP1 100") << true;
    }
    void command()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(bool, timeout);
        WindowHarness h;
        xonXoffWindow(h);
        const QString buttons = enabledButtons(*h.w);
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.port->inject(kXOFF); // pending before the click: dropped, not a hold-off
        h.w->reportError(QStringLiteral("earlier"), false);
        h.script(replies);

        h.w->cmdSend_Click();

        QCOMPARE(h.takeWritten(), QByteArray("= SP1 100\r"));
        QCOMPARE(h.w->OutStr, QByteArray("= SP1 100\r"));
        QCOMPARE(h.w->CmdStr, QByteArray("SP1 100"));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->errorShown(), timeout);
        if (timeout)
            QCOMPARE(h.w->errorText(), kNoResponse);
        QCOMPARE(h.seams.beeps, timeout ? 1 : 0);
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
        QCOMPARE(enabledButtons(*h.w), buttons);
    }

    void query_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");

        const QByteArray sent = "Sent C1\r\nReceived Characters: ";
        const QByteArray busy = kQueryBusy + "\r\nReceived Characters: ";
        const QByteArray loneCr = "13 \r\nDid not receive an ACK or a NAK";
        QTest::newRow("hold-off then the value") << QList<Reply>{{0, 1, kXOFF}, {0, 4, "\x11" "100\r"}}
                                                 << busy + "<Xon>100<cr>" << "" << 0;
        QTest::newRow("lone CR") << QList<Reply>{{0, 1, "\r"}} << sent + loneCr << "" << 1;
    }
    void query()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        WindowHarness h;
        xonXoffWindow(h);
        const QString buttons = enabledButtons(*h.w);
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        // The X3.28 options mean nothing here.
        h.w->ckNAK->setChecked(true);
        h.w->ckByteCnt->setChecked(true);
        h.port->inject("\r");
        h.w->reportError(QStringLiteral("earlier"), false);
        h.script(replies);

        h.w->cmdQuery_Click();

        QCOMPARE(h.takeWritten(), QByteArray("? C1\r"));
        QCOMPARE(h.w->OutStr, QByteArray("? C1\r"));
        QCOMPARE(h.w->CmdStr, QByteArray("C1"));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->errorShown(), !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.w->errorText(), error);
        QCOMPARE(h.seams.beeps, beeps);
        QVERIFY(h.w->ckNAK->isChecked());
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
        QCOMPARE(enabledButtons(*h.w), buttons);
    }

    void entryChecks()
    {
        WindowHarness h;
        xonXoffWindow(h);
        h.w->cmdSend_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Nothing to send"));
        h.w->cmdQuery_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Nothing to send"));
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(h.port->writes.isEmpty());
        QVERIFY(h.port->closedWrites == 0);

        // No address needed; an empty query box repeats the last command text.
        QVERIFY(!h.w->AddrSetFlg);
        h.w->combCmd->setEditText(QStringLiteral("SP1 7"));
        h.script({{0, 1, kXON}});
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("= SP1 7\r"));
        h.script({{0, 1, "7\r"}});
        h.w->cmdQuery_Click();
        QCOMPARE(h.takeWritten(), QByteArray("? SP1 7\r"));
        QCOMPARE(h.w->combQuery->currentText(), QStringLiteral("SP1 7"));
        // And an empty command box repeats that query text as a command.
        h.w->combCmd->setEditText(QString());
        h.script({{0, 1, kXON}});
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("= SP1 7\r"));
    }

    void escape()
    {
        WindowHarness h;
        xonXoffWindow(h);
        h.w->resultsReplace("before");
        h.w->combCmd->setEditText(QStringLiteral("@@@"));
        const qint64 inputsBefore = h.port->inputCalls;
        h.w->cmdSend_Click();
        // Bare: no "= ", no CR, no reply awaited (only the drain read the port).
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.port->inputCalls - inputsBefore, qint64(1));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(enabledButtons(*h.w), QStringLiteral("cmdSCPI cmdSend cmdQtst cmdCmdtst"));
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Query not active in SCPI mode"));
        QCOMPARE(h.transcript(), QByteArray("before"));
        QVERIFY(h.w->OutStr.isEmpty());
        QCOMPARE(h.seams.beeps, 0);
    }

    void modeEntry()
    {
        WindowHarness h;
        h.init(1);
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.script({{0, 1, "5\x06"}});
        h.w->cmdSet_Click();
        QCOMPARE(h.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:0"));
        h.takeWritten();
        h.w->reportError(QStringLiteral("kept"), false);
        h.w->resultsReplace("kept too");
        h.w->cmdLdCmdTable->setEnabled(true);
        h.w->cmdQtstOff->setEnabled(true);

        h.w->cmdXonXoff_Click();

        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
        QCOMPARE(h.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:1"));
        QCOMPARE(enabledButtons(*h.w), QStringLiteral("cmdSCPI cmdXonXoff cmdSend cmdQuery cmdQtst cmdCmdtst"));
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter Xon/Xoff command-space-data i.e. SP1 100"));
        QCOMPARE(h.w->frmDevCmd->title(), QStringLiteral("Xon/Xoff Device Commands"));
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Xon/Xoff Query Only"));
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.w->errorText(), QStringLiteral("kept"));
        QCOMPARE(h.transcript(), QByteArray("kept too"));
        QVERIFY(h.w->AddrSetFlg);

        h.w->cmdSCPI_Click();
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(h.transcript(), QByteArray("Sent @@@\r\nSCPI commands enabled"));
    }

    // A hold-off keeps the window live: a lost line or an exit ends it, and
    // other exchanges asked for meanwhile are refused.
    void holdOffInterrupted_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::addColumn<QString>("how");
        for (bool isQuery : {false, true})
            for (const char *how : {"line lost", "exit", "clicks"})
                QTest::addRow("%s, %s", isQuery ? "query" : "command", how) << isQuery << QString::fromLatin1(how);
    }
    void holdOffInterrupted()
    {
        QFETCH(bool, isQuery);
        QFETCH(QString, how);
        WindowHarness h;
        xonXoffWindow(h);
        frmMain *w = h.w.get();
        w->combCmd->setEditText(QStringLiteral("SP1 100"));
        w->combQuery->setEditText(QStringLiteral("C1"));
        // A stream of lone XOFFs, and the interruption well into the hold-offs.
        QList<Reply> holdOffs;
        for (qint64 poll = 10; poll <= 200; poll += 10)
            holdOffs.append({0, poll, kXOFF});
        if (how == "clicks")
            holdOffs.append({0, 400, "9\r"});
        h.script(holdOffs);
        int acted = 0;
        QTimer t;
        t.setInterval(0);
        QObject::connect(&t, &QTimer::timeout, w, [&] {
            if (h.port->inputCalls < 100 || acted > 0)
                return;
            ++acted;
            if (how == "line lost")
                h.port->loseLine();
            else if (how == "exit")
                w->cmdExit_Click();
            else {
                w->cmdSend_Click();
                w->cmdQuery_Click();
                w->cmdSCPI_Click();
            }
        });
        t.start();
        if (isQuery)
            w->cmdQuery_Click();
        else
            w->cmdSend_Click();
        t.stop();

        QCOMPARE(acted, 1);
        const QByteArray frame = isQuery ? "? C1\r" : "= SP1 100\r";
        const QByteArray busy = isQuery ? kQueryBusy : kCmdBusy;
        if (how == "line lost") {
            QCOMPARE(h.takeWritten(), frame);
            QCOMPARE(h.transcript(), busy);
            QVERIFY(h.w->errorShown());
            QVERIFY2(h.w->errorText().contains(QStringLiteral("lost")), qPrintable(h.w->errorText()));
            QCOMPARE(h.seams.beeps, 1);
        } else if (how == "exit") {
            // The exit follows as soon as the exchange has stopped: DLE ENQ goes out.
            QCOMPARE(h.takeWritten(), frame + "\x10\x05");
            QCOMPARE(h.seams.programEnds, 1);
            QCOMPARE(h.transcript(), busy);
            QCOMPARE(h.seams.beeps, 0);
        } else {
            QCOMPARE(h.w->refusedRequests(), qint64(3));
            QCOMPARE(h.takeWritten(), frame);
            QCOMPARE(h.transcript(), busy + "\r\nReceived Characters: 9<cr>");
            QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
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
        WindowHarness h;
        xonXoffWindow(h);
        h.port->loseLine();
        h.w->cmdXonXoff_Click(); // needs no port: the mode the exchanges run in
        h.w->hideError();
        h.seams.beeps = 0;
        h.w->resultsReplace("before");
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        if (isQuery)
            h.w->cmdQuery_Click();
        else
            h.w->cmdSend_Click();
        QVERIFY(h.w->errorShown());
        QVERIFY2(h.w->errorText().contains(QStringLiteral("COM port")), qPrintable(h.w->errorText()));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.port->closedWrites, 0);
        QCOMPARE(h.transcript(), QByteArray("before"));
        QVERIFY(h.w->CmdStr.isEmpty());
        QCOMPARE(h.w->cmdMode, QByteArray("XonXoff"));
    }
};

QTEST_MAIN(TestXonXoff)
#include "tst_xonxoff.moc"
