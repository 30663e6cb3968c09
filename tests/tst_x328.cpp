// SPDX-License-Identifier: MIT
// X3.28 on the headless window with a scripted port: address check and link
// open, selection, poll, the escape to SCPI, the closed port, and clicks that
// come while an exchange waits.

#include "app/TranscriptBox.h"
#include "support/UserInput.h"
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
QByteArray lines(std::initializer_list<QByteArray> parts)
{
    QByteArray out;
    for (const QByteArray &p : parts)
        out += (out.isEmpty() ? QByteArray() : QByteArray("\r\n")) + p;
    return out;
}

QList<QPushButton *> stateButtons(frmMain &w)
{
    return {w.cmdSet,  w.cmdDisconnect, w.cmdSCPI,   w.cmdXonXoff,   w.cmdSend,       w.cmdQuery,
            w.cmdQtst, w.cmdQtstOff,    w.cmdCmdtst, w.cmdCmdtstoff, w.cmdLdCmdTable, w.cmdRdCmdTable};
}

// "cmdSet+ cmdDisconnect- ...", with the given buttons forced to a state.
QString states(frmMain &w, const QMap<QString, bool> &changes = {})
{
    QStringList out;
    for (QPushButton *b : stateButtons(w))
        out << b->objectName() + (changes.value(b->objectName(), b->isEnabled()) ? "+" : "-");
    return out.join(' ');
}

void setStates(frmMain &w, const QMap<QString, bool> &wanted)
{
    for (QPushButton *b : stateButtons(w))
        if (wanted.contains(b->objectName()))
            b->setEnabled(wanted[b->objectName()]);
}

// The opposite of every state in the map.
QMap<QString, bool> opposite(QMap<QString, bool> states)
{
    for (bool &on : states)
        on = !on;
    return states;
}

// What a successful link open leaves; the escape typed as a command.
const QMap<QString, bool> kLinkOpenStates{{"cmdDisconnect", true}, {"cmdSend", true},       {"cmdQuery", true},
                                          {"cmdQtst", true},       {"cmdQtstOff", false},   {"cmdCmdtst", true},
                                          {"cmdCmdtstoff", false}, {"cmdLdCmdTable", false}, {"cmdRdCmdTable", false}};
const QMap<QString, bool> kEscapeStates{{"cmdSet", false},   {"cmdDisconnect", false}, {"cmdXonXoff", false},
                                        {"cmdSend", true},   {"cmdQuery", false},      {"cmdQtst", true},
                                        {"cmdQtstOff", false}, {"cmdCmdtst", true},    {"cmdCmdtstoff", false}};

QString captions(frmMain &w)
{
    return w.cmdLbl->text() + '|' + w.frmDevCmd->title() + '|' + w.frmDevResp->title();
}

const QByteArray kPoll("\x02? C1\x03");
const QByteArray kEOT("\x04");
const QByteArray kACK("\x06");
const QByteArray kNAK("\x15");
const QByteArray kAckLines("Received Characters:  6 \r\nReceived  ACK");
const QString kNoResponse("Receive timeout error - no response from UUT");
const QString kBadAddress("Address value not 0 to 32, re-enter");
} // namespace

Q_DECLARE_METATYPE(Reply)

class TestX328 : public QObject
{
    Q_OBJECT

    // Opens the port and a link to address 5; forgets the bytes and beeps.
    static void openLink(WindowHarness &h)
    {
        h.init(1);
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.script({{0, 1, "5\x06"}});
        h.w->cmdSet_Click();
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        h.takeWritten();
        h.seams.beeps = 0;
    }

private slots:
    void addressAccepted_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("addr");
        QTest::newRow("5") << "5" << QByteArray("5");
        QTest::newRow("10 is A") << "10" << QByteArray("A");
        QTest::newRow("blank inside counts as 15") << "1 5" << QByteArray("F");
        // v + 55 rounded, halves to the even neighbour.
    }
    void addressAccepted()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, addr);
        WindowHarness h;
        h.init(1);
        h.w->txtAddr->setText(typed);
        h.script({{0, 1, "3\x06"}}); // the character before the ACK is not compared
        h.w->cmdSet_Click();
        QCOMPARE(h.takeWritten(), addr + '\x05');
        QCOMPARE(h.w->AddrStr, addr);
        QCOMPARE(h.transcript(), "Received 3 ACK\r\nDevice address set to " + typed.toLatin1());
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
    }

    void addressRejected_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("00") << "00";
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("blank and 0") << " 0";
        QTest::newRow("-0") << "-0";
        QTest::newRow("33") << "33";
        QTest::newRow("32.5") << "32.5";
        QTest::newRow("-1") << "-1";
    }
    void addressRejected()
    {
        QFETCH(QString, typed);
        WindowHarness h;
        openLink(h);
        h.w->resultsReplace("before");
        h.w->txtAddr->setText(typed);
        h.w->cmdDisconnect->setEnabled(false);
        const QString expected = states(*h.w, {{"cmdDisconnect", true}});
        h.w->cmdSet_Click();
        QCOMPARE(h.w->errorText(), kBadAddress);
        QVERIFY(h.w->errorShown());
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.transcript(), QByteArray("before"));
        QCOMPARE(h.w->AddrStr, QByteArray("5"));
        QVERIFY(!h.w->AddrSetFlg);
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QCOMPARE(states(*h.w), expected);
    }

    void linkReply_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("error");
        const QByteArray set = "\r\nDevice address set to 5";
        QTest::newRow("lone ACK") << QList<Reply>{{0, 1, kACK}} << "Received  ACK" + set << true << "";
        QTest::newRow("ACK at 3") << QList<Reply>{{0, 1, "\r1\x06"}} << QByteArray("Received  13  49  6 ") << false << "";
        QTest::newRow("no reply") << QList<Reply>{} << QByteArray("Received buffer was empty") << false
                                  << kNoResponse;
    }
    void linkReply()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(bool, opened);
        QFETCH(QString, error);
        WindowHarness h;
        h.init(1);
        h.w->txtAddr->setText(QStringLiteral("5"));
        // Every control the link open names starts in the other state.
        setStates(*h.w, opposite(kLinkOpenStates));
        h.w->combCmd->setEditText(QStringLiteral("typed"));
        h.w->lblXOnXoff->show();
        h.w->frmDevResp->setTitle(QStringLiteral("untouched"));
        h.w->resultsReplace("before");
        const QString expectOpened = states(*h.w, kLinkOpenStates);
        const QString expectFailed = states(*h.w, {{"cmdDisconnect", true}});
        const QString beforeCaptions = captions(*h.w);
        const int inputsBefore = int(h.port->inputCalls);
        h.script(replies);

        h.w->cmdSet_Click();

        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->AddrSetFlg, opened);
        QCOMPARE(h.w->errorShown(), !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.w->errorText(), error);
        QCOMPARE(h.seams.beeps, error.isEmpty() ? 0 : 1);
        if (!error.isEmpty()) // the drain, then the whole wait
            QCOMPARE(h.port->inputCalls - inputsBefore, qint64(1 + 30001));
        if (opened) {
            QCOMPARE(states(*h.w), expectOpened);
            QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
            QCOMPARE(h.w->combCmd->currentText(), QString());
            QCOMPARE(h.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:1"));
            QCOMPARE(captions(*h.w), QStringLiteral("Enter X3.28 parameter <space> value i.e. SP1 100|"
                                                    "X3.28 Device Commands|untouched"));
        } else {
            QCOMPARE(states(*h.w), expectFailed);
            QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
            QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("typed"));
            QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:1"));
            QCOMPARE(captions(*h.w), beforeCaptions);
        }
        QCOMPARE(h.w->AddrStr, QByteArray("5"));
    }

    void linkOpenDropsPendingInputAndFailureClearsFlag()
    {
        WindowHarness h;
        openLink(h);
        // An ACK waiting before the click is thrown away, not taken as the answer.
        h.port->inject(kACK);
        h.w->cmdSet_Click();
        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.transcript(), QByteArray("Received buffer was empty"));
        QVERIFY(!h.w->AddrSetFlg);
        QVERIFY(h.w->cmdDisconnect->isEnabled());
        // The mode stays X3.28, but without an address the selection refuses.
        h.seams.beeps = 0;
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.w->cmdSend_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Missing a device address"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(h.port->writes.isEmpty());
    }

    void selection_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");
        QTest::newRow("ACK") << QList<Reply>{{0, 3, kACK}}
                             << QByteArray("Received Characters:  6 \r\nReceived ACK") << "" << 0;
        QTest::newRow("no answer") << QList<Reply>{{0, 1, "zz"}} << QByteArray("Sent SP1 100") << kNoResponse << 1;
    }
    void selection()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        WindowHarness h;
        openLink(h);
        const QString before = states(*h.w);
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.script(replies);
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(h.w->OutStr, QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(h.w->CmdStr, QByteArray("SP1 100"));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->errorShown(), !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.w->errorText(), error);
        QCOMPARE(h.seams.beeps, beeps);
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QCOMPARE(states(*h.w), before);
    }

    void selectionChecks()
    {
        WindowHarness h;
        h.init(1);
        h.w->cmdDisconnect_Click(); // X3.28 without an address
        h.takeWritten();
        // Nothing at all: that check comes before the address check.
        h.w->cmdSend_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Nothing to send"));
        QCOMPARE(h.seams.beeps, 1);
        // The escape needs the address too, and the entry is left as typed.
        h.w->combCmd->setEditText(QStringLiteral("@@@"));
        h.w->cmdSend_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Missing a device address"));
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.w->CmdStr, QByteArray());
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdQuery_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Missing a device address"));
        QCOMPARE(h.seams.beeps, 3);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.w->CmdStr, QByteArray());

        // With an address, an empty entry repeats the last text, a query included.
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.script({{0, 1, kACK}});
        h.w->cmdSet_Click();
        h.takeWritten();
        h.script({{0, 1, kNAK}});
        h.w->cmdQuery_Click();
        QCOMPARE(h.takeWritten(), kPoll);
        h.w->combCmd->setEditText(QString());
        h.script({{0, 1, kACK}});
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("\x02= C1\x03"));
        QCOMPARE(h.w->combCmd->currentText(), QStringLiteral("C1"));
        h.w->combQuery->setEditText(QString());
        h.script({{0, 1, kNAK}});
        h.w->cmdQuery_Click();
        QCOMPARE(h.takeWritten(), kPoll);
        QCOMPARE(h.w->combQuery->currentText(), QStringLiteral("C1"));
    }

    void escape_data()
    {
        QTest::addColumn<bool>("fromXonXoff");
        QTest::newRow("from X3.28") << false;
        QTest::newRow("from Xon/Xoff") << true;
    }
    void escape()
    {
        QFETCH(bool, fromXonXoff);
        WindowHarness h;
        openLink(h);
        if (fromXonXoff)
            h.w->cmdXonXoff_Click();
        setStates(*h.w, opposite(kEscapeStates));
        h.w->cmdLdCmdTable->setEnabled(true);
        h.w->cmdRdCmdTable->setEnabled(false);
        h.w->resultsReplace("before");
        h.w->OutStr = "last";
        h.port->inject("junk");
        const QString expected = states(*h.w, kEscapeStates);
        const qint64 inputsBefore = h.port->inputCalls;
        h.w->combCmd->setEditText(QStringLiteral("@@@"));
        h.w->cmdSend_Click();
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(captions(*h.w), QStringLiteral("Enter SCPI and Modbus commands|Device Commands and Queries|"
                                                "Query not active in SCPI mode"));
        QCOMPARE(states(*h.w), expected);
        QCOMPARE(h.transcript(), QByteArray("before"));
        QCOMPARE(h.w->OutStr, QByteArray("last"));
        QCOMPARE(h.w->CmdStr, QByteArray("@@@"));
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
        // No reply was awaited: only the drain read the port (the junk, then
        // the read that found nothing more).
        QCOMPARE(h.port->inputCalls - inputsBefore, qint64(2));
    }

    void poll_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<bool>("byteCnt");
        QTest::addColumn<bool>("nak");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");

        const QByteArray block100 = "\x02" "100\r\x03";
        const QByteArray block101 = "\x02" "101\r\x03";
        const QByteArray data100 = "Received STX 100<cr> ETX";
        const QByteArray full = kPoll + kEOT + kACK;
        const QList<Reply> happy{{0, 2, kACK}, {1, 3, block100}, {2, 1, kEOT}};

        QTest::newRow("plain") << happy << false << false << full
                               << lines({kAckLines, data100, "Received EOT"}) << "" << 0;
        const QList<Reply> repeat{{0, 1, kACK}, {1, 1, block100}, {2, 2, block101}, {3, 1, kEOT}};
        QTest::newRow("one NAK") << repeat << false << true << kPoll + kEOT + kNAK + kACK
                                 << lines({kAckLines, data100, "Sent NAK", "Received STX 101<cr> ETX", "Received EOT"})
                                 << "" << 0;
        QTest::newRow("NAK to the query") << QList<Reply>{{0, 1, "\x15z"}} << false << true << kPoll
                                          << QByteArray("Received Characters:  21 \r\nReceived  NAK") << "" << 1;
    }
    void poll()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(bool, byteCnt);
        QFETCH(bool, nak);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        WindowHarness h;
        openLink(h);
        const QString before = states(*h.w);
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->ckByteCnt->setChecked(byteCnt);
        h.w->ckNAK->setChecked(nak);
        h.port->inject("stale");
        h.w->reportError(QStringLiteral("earlier"), false); // the poll hides it first
        h.script(replies);

        h.w->cmdQuery_Click();

        QCOMPARE(h.takeWritten(), written);
        // The last frame written: the query block, or the EOT, NAK or ACK after it.
        QCOMPARE(h.w->OutStr, written == kPoll ? kPoll : written.right(1));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.w->errorShown(), !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.w->errorText(), error);
        QCOMPARE(h.seams.beeps, beeps);
        // The one-shot NAK is used up once a NAK went out.
        QCOMPARE(h.w->ckNAK->isChecked(), nak && !written.contains(kNAK));
        QCOMPARE(h.w->CmdStr, QByteArray("C1"));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(states(*h.w), before);
    }

    // Checking the box again while the repeated block is awaited does not
    // bring a second NAK into the same poll; it stays for the next one.
    void oneNakPerPoll()
    {
        WindowHarness h;
        openLink(h);
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->ckNAK->setChecked(true);
        frmMain *w = h.w.get();
        h.port->responder = [w](ScriptPort &, const QByteArray &frame) {
            if (frame == kNAK)
                QTimer::singleShot(0, w, [w] { w->ckNAK->setChecked(true); });
        };
        h.script({{0, 1, kACK}, {1, 1, "\x02" "100\r\x03"}, {2, 5, "\x02" "101\r\x03"}, {3, 1, kEOT}});
        w->cmdQuery_Click();
        h.port->responder = nullptr;
        QCOMPARE(h.takeWritten(), kPoll + kEOT + kNAK + kACK);
        QCOMPARE(h.transcript(), lines({kAckLines, "Received STX 100<cr> ETX", "Sent NAK", "Received STX 101<cr> ETX",
                                        "Received EOT"}));
        QVERIFY(h.w->ckNAK->isChecked());
    }

    void pollChecks()
    {
        WindowHarness h;
        openLink(h);
        // Nothing in the box and nothing sent before.
        h.w->CmdStr.clear();
        h.w->cmdQuery_Click();
        QCOMPARE(h.w->errorText(), QStringLiteral("Nothing to send"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(h.port->writes.isEmpty());
    }

    // A port operation on a line that is not there: never opened, lost
    // before the click, found lost by the input drain (it went while the
    // program was busy), or lost between the drain and the write. Nothing is
    // shown as sent, nothing is handed to the closed port after the drain
    // found it gone; a loss leaves the window as after load in all that
    // needs the port.
    void closedPort_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("when");
        const char *whens[] = {"never opened", "line lost", "lost at the write", "lost in the drain"};
        for (int when = 0; when < 4; ++when)
            for (const char *op : {"cmdSet", "cmdSet bad address", "cmdDisconnect", "cmdSCPI", "select", "poll"})
                QTest::addRow("%s, %s", op, whens[when]) << QString::fromLatin1(op) << when;
    }
    void closedPort()
    {
        QFETCH(QString, op);
        QFETCH(int, when);
        enum { NeverOpened, LostBefore, LostAtWrite, LostInDrain };
        WindowHarness h;
        const bool exchange = op == "select" || op == "poll";
        const bool badAddress = op.endsWith("bad address");
        QByteArray mode = "SCPI";
        if (when != NeverOpened) {
            openLink(h);
            if (when == LostBefore) {
                h.port->loseLine();
                QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
                QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
                QVERIFY2(!states(*h.w).contains('+'), qPrintable(states(*h.w))); // every device button off
            }
        }
        // A mode that each button would change; the exchanges need X3.28.
        if (exchange)
            h.w->cmdMode = mode = "X3.28";
        else if (when != NeverOpened)
            h.w->cmdXonXoff_Click(), mode = "XonXoff";
        h.port->loseOnWrite = when == LostAtWrite;
        h.port->loseOnRead = when == LostInDrain;
        h.w->resultsReplace("before");
        h.w->cmdDisconnect->setEnabled(false);
        h.w->txtAddr->setText(badAddress ? QStringLiteral("40") : QStringLiteral("5"));
        if (exchange)
            h.w->AddrSetFlg = true;
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        const QString labelsBefore = h.labels();
        const QByteArray cmdStrBefore = h.w->CmdStr;
        h.w->hideError();
        h.seams.beeps = 0;

        if (op.startsWith("cmdSet"))
            h.w->cmdSet_Click();
        else if (op == "cmdDisconnect")
            h.w->cmdDisconnect_Click();
        else if (op == "cmdSCPI")
            h.w->cmdSCPI_Click();
        else if (op == "select")
            h.w->cmdSend_Click();
        else
            h.w->cmdQuery_Click();

        const bool lostHere = (when == LostAtWrite || when == LostInDrain) && !badAddress;
        QVERIFY(h.w->errorShown());
        if (badAddress) {
            QCOMPARE(h.w->errorText(), kBadAddress);
            QCOMPARE(h.seams.beeps, 2);
        } else {
            QVERIFY2(h.w->errorText().contains(lostHere ? QStringLiteral("was lost") : QStringLiteral("COM port")),
                     qPrintable(h.w->errorText()));
            QCOMPARE(h.seams.beeps, 1);
        }
        QCOMPARE(h.port->closedWrites, lostHere && when == LostAtWrite ? 1 : 0);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.transcript(), QByteArray("before"));
        if (lostHere) {
            QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
            QCOMPARE(h.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
            QVERIFY(!h.w->cmdSend->isEnabled());
            QVERIFY(!h.w->cmdDisconnect->isEnabled());
            return;
        }
        QCOMPARE(h.w->cmdMode, mode);
        QCOMPARE(h.labels(), labelsBefore);
        QCOMPARE(h.w->CmdStr, cmdStrBefore);
        if (op.startsWith("cmdSet")) {
            QVERIFY(h.w->cmdDisconnect->isEnabled());
            QVERIFY(!h.w->AddrSetFlg);
        }
    }

    void clickDuringPollRefused_data()
    {
        QTest::addColumn<int>("duringWait");
        QTest::newRow("waiting for ACK") << 0;
        QTest::newRow("waiting for the data") << 1;
        QTest::newRow("waiting for EOT") << 2;
    }
    void clickDuringPollRefused()
    {
        QFETCH(int, duringWait);
        WindowHarness h;
        openLink(h);
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        const qint64 refusedBefore = h.w->refusedRequests();
        frmMain *w = h.w.get();
        QVERIFY(User::showActive(w));
        int clicked = 0;
        h.port->responder = [&](ScriptPort &port, const QByteArray &) {
            if (port.writes.size() - 1 != duringWait)
                return;
            QTimer::singleShot(0, w, [&, w] {
                ++clicked;
                w->cmdQuery_Click();
                User::click(w->combQuery);
                User::key(Qt::Key_Return);
                w->cmdSend_Click();
                User::click(w->combCmd);
                User::key(Qt::Key_Enter);
                w->cmdSet_Click();
                w->cmdSCPI_Click();
                w->cmdDisconnect_Click();
            });
        };
        // Replies late enough that the clicks come first.
        h.script({{0, 5, kACK}, {1, 5, "\x02" "100\r\x03"}, {2, 5, kEOT}});
        w->cmdQuery_Click();
        h.port->responder = nullptr;

        QCOMPARE(clicked, 1);
        QCOMPARE(h.w->refusedRequests() - refusedBefore, qint64(7));
        QCOMPARE(h.takeWritten(), kPoll + kEOT + kACK);
        QCOMPARE(h.transcript(), lines({kAckLines, "Received STX 100<cr> ETX", "Received EOT"}));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.w->CmdStr, QByteArray("C1"));
    }

    // During the link-open wait clicks are refused; an edit of the address
    // asks for cmdSet again, so the link opened with the old one leaves the
    // flag clear.
    void duringLinkOpen_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::newRow("clicks refused") << false;
        QTest::newRow("address edited") << true;
    }
    void duringLinkOpen()
    {
        QFETCH(bool, edit);
        WindowHarness h;
        h.init(1);
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.w->combCmd->setEditText(QStringLiteral("*idn?"));
        frmMain *w = h.w.get();
        QTimer::singleShot(0, w, [w, edit] {
            if (edit) {
                w->txtAddr->setText(QStringLiteral("7"));
                return;
            }
            w->cmdSend_Click();
            w->cmdSet_Click();
            w->cmdSCPI_Click();
            w->cmdDisconnect_Click();
        });
        h.script({{0, 5, "5\x06"}});
        w->cmdSet_Click();
        QCOMPARE(h.w->refusedRequests(), qint64(edit ? 0 : 4));
        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.w->AddrSetFlg, !edit);
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QCOMPARE(h.transcript(), QByteArray("Received 5 ACK\r\nDevice address set to 5"));
    }
};

QTEST_MAIN(TestX328)
#include "tst_x328.moc"
