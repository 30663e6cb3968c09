// SPDX-License-Identifier: MIT
// X3.28 on the bench session with a scripted port: address check and link
// open, selection, poll, the escape to SCPI, the closed port, and operations
// asked for while an exchange waits.

#include "support/SessionHarness.h"

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

// "cmdSet+ cmdDisconnect- ...", with the given buttons forced to a state.
QString states(const RecordingView &v, const QMap<QString, bool> &changes = {})
{
    QStringList out;
    for (int i = 0; i < kViewButtonCount; ++i) {
        const QString name = QString::fromLatin1(kViewButtons[i]);
        out << name + (changes.value(name, v.buttons[size_t(i)]) ? "+" : "-");
    }
    return out.join(' ');
}

void setStates(RecordingView &v, const QMap<QString, bool> &wanted)
{
    for (auto it = wanted.begin(); it != wanted.end(); ++it)
        v.setEnabled(qPrintable(it.key()), it.value());
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

QString captions(const RecordingView &v)
{
    return v.cmdLbl + '|' + v.frmDevCmd + '|' + v.frmDevResp;
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
    static void openLink(SessionHarness &h)
    {
        QVERIFY(h.init());
        h.port->script({{0, 1, "5\x06"}});
        h.s->setAddress("5");
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        h.takeWritten();
        h.view.beeps = 0;
    }

private slots:
    // Over an open link to 5: a new address is sent before ENQ, or refused
    // before anything is written.
    void address_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("addr"); // empty: refused
        QTest::newRow("7") << QByteArray("7") << QByteArray("7");
        QTest::newRow("10 is A") << QByteArray("10") << QByteArray("A");
        QTest::newRow("blank inside counts as 15") << QByteArray("1 5") << QByteArray("F");
        for (const char *bad : {"00", "", "abc", " 0", "-0", "33", "32.5", "-1"})
            QTest::addRow("refused '%s'", bad) << QByteArray(bad) << QByteArray();
    }
    void address()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, addr);
        SessionHarness h;
        openLink(h);
        h.s->resultsReplace("before");
        h.view.setEnabled("cmdDisconnect", false);
        const QString tried = states(h.view, {{"cmdDisconnect", true}});
        h.port->script({{0, 1, "3\x06"}}); // the character before the ACK is not compared

        h.s->setAddress(typed);

        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        if (addr.isEmpty()) {
            QCOMPARE(h.view.error, kBadAddress);
            QVERIFY(h.view.errorVisible);
            QCOMPARE(h.view.beeps, 2);
            QVERIFY(h.port->writes.isEmpty());
            QCOMPARE(h.view.transcript, QByteArray("before"));
            QCOMPARE(h.state().AddrStr, QByteArray("5"));
            QVERIFY(!h.state().AddrSetFlg);
            QCOMPARE(states(h.view), tried);
            return;
        }
        QCOMPARE(h.takeWritten(), addr + '\x05');
        QCOMPARE(h.state().AddrStr, addr);
        QCOMPARE(h.view.transcript, "Received 3 ACK\r\nDevice address set to " + typed);
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
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
        SessionHarness h;
        QVERIFY(h.init());
        // Every control the link open names starts in the other state.
        setStates(h.view, opposite(kLinkOpenStates));
        h.view.command = "typed";
        h.view.lblXOnXoff = true;
        h.view.frmDevResp = QStringLiteral("untouched");
        h.s->resultsReplace("before");
        const QString expectOpened = states(h.view, kLinkOpenStates);
        const QString expectFailed = states(h.view, {{"cmdDisconnect", true}});
        const QString beforeCaptions = captions(h.view);
        const qint64 inputsBefore = h.port->inputCalls;
        h.port->script(replies);

        h.s->setAddress("5");

        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.state().AddrSetFlg, opened);
        QCOMPARE(h.view.errorVisible, !error.isEmpty());
        if (!error.isEmpty()) {
            QCOMPARE(h.view.error, error);
            QCOMPARE(h.port->inputCalls - inputsBefore, qint64(1 + 30001)); // the drain, then the whole wait
        }
        QCOMPARE(h.view.beeps, error.isEmpty() ? 0 : 1);
        if (opened) {
            QCOMPARE(states(h.view), expectOpened);
            QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
            QCOMPARE(h.view.command, QByteArray());
            QCOMPARE(h.view.labels(), QStringLiteral("SCPI:0 X3.28:1 XonXoff:1"));
            QCOMPARE(captions(h.view), QStringLiteral("Enter X3.28 parameter <space> value i.e. SP1 100|"
                                                      "X3.28 Device Commands|untouched"));
        } else {
            QCOMPARE(states(h.view), expectFailed);
            QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
            QCOMPARE(h.view.command, QByteArray("typed"));
            QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:1"));
            QCOMPARE(captions(h.view), beforeCaptions);
        }
        QCOMPARE(h.state().AddrStr, QByteArray("5"));
    }

    void linkOpenDropsPendingInputAndFailureClearsFlag()
    {
        SessionHarness h;
        openLink(h);
        // An ACK waiting before the click is thrown away, not taken as the answer.
        h.port->inject(kACK);
        h.s->setAddress("5");
        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.view.transcript, QByteArray("Received buffer was empty"));
        QVERIFY(!h.state().AddrSetFlg);
        QVERIFY(h.view.isEnabled("cmdDisconnect"));
        // The mode stays X3.28, but without an address the selection refuses.
        h.view.beeps = 0;
        h.send("SP1 100");
        QCOMPARE(h.view.error, QStringLiteral("Missing a device address"));
        QCOMPARE(h.view.beeps, 1);
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
        SessionHarness h;
        openLink(h);
        const QString before = states(h.view);
        h.port->script(replies);
        h.send("SP1 100");
        QCOMPARE(h.takeWritten(), QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(h.state().OutStr, QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(h.state().CmdStr, QByteArray("SP1 100"));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.view.errorVisible, !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.view.error, error);
        QCOMPARE(h.view.beeps, beeps);
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QCOMPARE(states(h.view), before);
    }

    void entryChecks()
    {
        SessionHarness h;
        QVERIFY(h.init());
        h.s->disconnectLink(); // X3.28 without an address
        h.takeWritten();
        // Nothing at all: that check comes before the address check.
        h.send("");
        QCOMPARE(h.view.error, QStringLiteral("Nothing to send"));
        QCOMPARE(h.view.beeps, 1);
        // The escape needs the address too, and the entry is left as typed.
        h.send("@@@");
        QCOMPARE(h.view.error, QStringLiteral("Missing a device address"));
        QCOMPARE(h.view.beeps, 2);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.state().CmdStr, QByteArray());
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        h.query("C1");
        QCOMPARE(h.view.error, QStringLiteral("Missing a device address"));
        QCOMPARE(h.view.beeps, 3);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.state().CmdStr, QByteArray());

        // With an address, an empty entry repeats the last text, a query included.
        h.port->script({{0, 1, kACK}});
        h.s->setAddress("5");
        h.takeWritten();
        h.port->script({{0, 1, kNAK}});
        h.s->query();
        QCOMPARE(h.takeWritten(), kPoll);
        h.port->script({{0, 1, kACK}});
        h.send("");
        QCOMPARE(h.takeWritten(), QByteArray("\x02= C1\x03"));
        QCOMPARE(h.view.command, QByteArray("C1"));
        h.port->script({{0, 1, kNAK}});
        h.query("");
        QCOMPARE(h.takeWritten(), kPoll);
        QCOMPARE(h.view.query, QByteArray("C1"));

        // A poll with nothing in the box and nothing sent before.
        h.view.beeps = 0;
        h.state().CmdStr.clear();
        h.query("");
        QCOMPARE(h.view.error, QStringLiteral("Nothing to send"));
        QCOMPARE(h.view.beeps, 1);
        QVERIFY(h.port->writes.isEmpty());
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
        SessionHarness h;
        openLink(h);
        if (fromXonXoff)
            h.s->xonXoff();
        setStates(h.view, opposite(kEscapeStates));
        h.view.setEnabled("cmdLdCmdTable", true);
        h.view.setEnabled("cmdRdCmdTable", false);
        h.s->resultsReplace("before");
        h.state().OutStr = "last";
        h.port->inject("junk");
        const QString expected = states(h.view, kEscapeStates);
        const qint64 inputsBefore = h.port->inputCalls;
        h.send("@@@");
        QCOMPARE(h.takeWritten(), QByteArray("@@@"));
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(captions(h.view), QStringLiteral("Enter SCPI and Modbus commands|Device Commands and Queries|"
                                                  "Query not active in SCPI mode"));
        QCOMPARE(states(h.view), expected);
        QCOMPARE(h.view.transcript, QByteArray("before"));
        QCOMPARE(h.state().OutStr, QByteArray("last"));
        QCOMPARE(h.state().CmdStr, QByteArray("@@@"));
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
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
        SessionHarness h;
        openLink(h);
        const QString before = states(h.view);
        h.view.count = byteCnt;
        h.view.nak = nak;
        h.port->inject("stale");
        h.s->reportError(QStringLiteral("earlier"), false); // the poll hides it first
        h.port->script(replies);

        h.query("C1");

        QCOMPARE(h.takeWritten(), written);
        // The last frame written: the query block, or the EOT, NAK or ACK after it.
        QCOMPARE(h.state().OutStr, written == kPoll ? kPoll : written.right(1));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.view.errorVisible, !error.isEmpty());
        if (!error.isEmpty())
            QCOMPARE(h.view.error, error);
        QCOMPARE(h.view.beeps, beeps);
        // The one-shot NAK is used up once a NAK went out.
        QCOMPARE(h.view.nak, nak && !written.contains(kNAK));
        QCOMPARE(h.state().CmdStr, QByteArray("C1"));
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(states(h.view), before);
    }

    // Checking the box again while the repeated block is awaited does not
    // bring a second NAK into the same poll; it stays for the next one.
    void oneNakPerPoll()
    {
        SessionHarness h;
        openLink(h);
        h.view.nak = true;
        h.port->responder = [&h](ScriptPort &, const QByteArray &frame) {
            if (frame == kNAK)
                QTimer::singleShot(0, h.s.get(), [&h] { h.view.nak = true; });
        };
        h.port->script({{0, 1, kACK}, {1, 1, "\x02" "100\r\x03"}, {2, 5, "\x02" "101\r\x03"}, {3, 1, kEOT}});
        h.query("C1");
        h.port->responder = nullptr;
        QCOMPARE(h.takeWritten(), kPoll + kEOT + kNAK + kACK);
        QCOMPARE(h.view.transcript, lines({kAckLines, "Received STX 100<cr> ETX", "Sent NAK",
                                           "Received STX 101<cr> ETX", "Received EOT"}));
        QVERIFY(h.view.nak);
    }

    // A port operation on a line that is not there: never opened, lost
    // before the click, found lost by the input drain (it went while the
    // program was busy), or lost between the drain and the write. Nothing is
    // shown as sent, nothing is handed to the closed port after the drain
    // found it gone; a loss leaves the screen as after load in all that
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
        SessionHarness h;
        const bool exchange = op == "select" || op == "poll";
        const bool badAddress = op.endsWith("bad address");
        QByteArray mode = "SCPI";
        if (when != NeverOpened) {
            openLink(h);
            if (when == LostBefore) {
                h.port->loseLine();
                QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
                QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
                QVERIFY2(!states(h.view).contains('+'), qPrintable(states(h.view))); // every device button off
            }
        }
        // A mode that each button would change; the exchanges need X3.28.
        if (exchange)
            h.state().cmdMode = mode = "X3.28";
        else if (when != NeverOpened)
            h.s->xonXoff(), mode = "XonXoff";
        h.port->loseOnWrite = when == LostAtWrite;
        h.port->loseOnRead = when == LostInDrain;
        h.s->resultsReplace("before");
        h.view.setEnabled("cmdDisconnect", false);
        if (exchange)
            h.state().AddrSetFlg = true;
        h.view.command = "SP1 100";
        h.view.query = "C1";
        const QString labelsBefore = h.view.labels();
        const QByteArray cmdStrBefore = h.state().CmdStr;
        h.view.hideError();
        h.view.beeps = 0;

        if (op.startsWith("cmdSet"))
            h.s->setAddress(badAddress ? "40" : "5");
        else if (op == "cmdDisconnect")
            h.s->disconnectLink();
        else if (op == "cmdSCPI")
            h.s->scpi();
        else if (op == "select")
            h.s->send();
        else
            h.s->query();

        const bool lostHere = (when == LostAtWrite || when == LostInDrain) && !badAddress;
        QVERIFY(h.view.errorVisible);
        if (badAddress) {
            QCOMPARE(h.view.error, kBadAddress);
            QCOMPARE(h.view.beeps, 2);
        } else {
            QVERIFY2(h.view.error.contains(lostHere ? QStringLiteral("was lost") : QStringLiteral("COM port")),
                     qPrintable(h.view.error));
            QCOMPARE(h.view.beeps, 1);
        }
        QCOMPARE(h.port->closedWrites, lostHere && when == LostAtWrite ? 1 : 0);
        QVERIFY(h.port->writes.isEmpty());
        QCOMPARE(h.view.transcript, QByteArray("before"));
        if (lostHere) {
            QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
            QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
            QVERIFY(!h.view.isEnabled("cmdSend"));
            QVERIFY(!h.view.isEnabled("cmdDisconnect"));
            return;
        }
        QCOMPARE(h.state().cmdMode, mode);
        QCOMPARE(h.view.labels(), labelsBefore);
        QCOMPARE(h.state().CmdStr, cmdStrBefore);
        if (op.startsWith("cmdSet")) {
            QVERIFY(h.view.isEnabled("cmdDisconnect"));
            QVERIFY(!h.state().AddrSetFlg);
        }
    }

    // Every operation that needs the line is refused during each wait of
    // a poll; the poll goes on.
    void operationsDuringPollRefused_data()
    {
        QTest::addColumn<int>("duringWait");
        QTest::newRow("waiting for ACK") << 0;
        QTest::newRow("waiting for the data") << 1;
        QTest::newRow("waiting for EOT") << 2;
    }
    void operationsDuringPollRefused()
    {
        QFETCH(int, duringWait);
        SessionHarness h;
        openLink(h);
        h.view.command = "SP1 100";
        int asked = 0;
        int ran = 0;
        h.port->responder = [&](ScriptPort &port, const QByteArray &) {
            if (port.writes.size() - 1 != duringWait)
                return;
            QTimer::singleShot(0, h.s.get(), [&] {
                ++asked;
                ran = int(h.s->query()) + int(h.s->send()) + int(h.s->setAddress("5")) + int(h.s->scpi()) +
                      int(h.s->disconnectLink());
            });
        };
        // Replies late enough that the requests come first.
        h.port->script({{0, 5, kACK}, {1, 5, "\x02" "100\r\x03"}, {2, 5, kEOT}});
        h.query("C1");
        h.port->responder = nullptr;

        QCOMPARE(asked, 1);
        QCOMPARE(ran, 0);
        QCOMPARE(h.s->refusedRequests(), qint64(5));
        QCOMPARE(h.takeWritten(), kPoll + kEOT + kACK);
        QCOMPARE(h.view.transcript, lines({kAckLines, "Received STX 100<cr> ETX", "Received EOT"}));
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(h.state().CmdStr, QByteArray("C1"));
    }

    // During the link-open wait other operations are refused; an edit of
    // the address asks for cmdSet again, so the link opened with the old
    // one leaves the flag clear.
    void duringLinkOpen_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::newRow("operations refused") << false;
        QTest::newRow("address edited") << true;
    }
    void duringLinkOpen()
    {
        QFETCH(bool, edit);
        SessionHarness h;
        QVERIFY(h.init());
        h.view.command = "*idn?";
        QTimer::singleShot(0, h.s.get(), [&h, edit] {
            if (edit) {
                h.s->addressEdited();
                return;
            }
            h.s->send();
            h.s->setAddress("7");
            h.s->scpi();
            h.s->disconnectLink();
        });
        h.port->script({{0, 5, "5\x06"}});
        h.s->setAddress("5");
        QCOMPARE(h.s->refusedRequests(), qint64(edit ? 0 : 4));
        QCOMPARE(h.takeWritten(), QByteArray("5\x05"));
        QCOMPARE(h.state().AddrSetFlg, !edit);
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QCOMPARE(h.view.transcript, QByteArray("Received 5 ACK\r\nDevice address set to 5"));
    }
};

QTEST_GUILESS_MAIN(TestX328)
#include "tst_x328.moc"
