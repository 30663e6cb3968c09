// SPDX-License-Identifier: MIT
// The exchanges without a window: each run over a scripted port (replies at
// chosen polls) or the in-process simulated converter, with what the window
// would show recorded. The one-exchange rule of the line lock. The line
// monitor on the port's way, its ring, and the loops' response times.

#include "exchange/LineLock.h"
#include "exchange/Protocol.h"
#include "loops/LoopStats.h"
#include "serial/LineMonitor.h"
#include "serial/MonitoredPort.h"
#include "serial/SessionLog.h"
#include "sim/SimLinePort.h"
#include "support/LineRecord.h"
#include "support/ScriptPort.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>

namespace {
QByteArray lines(std::initializer_list<QByteArray> parts)
{
    QByteArray out;
    for (const QByteArray &p : parts)
        out += (out.isEmpty() ? QByteArray() : QByteArray("\r\n")) + p;
    return out;
}

const QByteArray kPoll("\x02? C1\x03");
const QByteArray kEOT("\x04");
const QByteArray kACK("\x06");
const QByteArray kNAK("\x15");
const QByteArray kXOFF("\x13");
const QByteArray kXON("\x11");
const QByteArray kAckLines("Received Characters:  6 \r\nReceived  ACK");
const QString kNoResponse("Receive timeout error - no response from UUT");
const QByteArray kCmdBusy("Received <xoff> -waiting for next string");
const QByteArray kQueryBusy("Received Xoff-waiting for next string");

// An open scripted port and the record of one exchange on it.
struct Line
{
    ScriptPort port;
    LineRecord rec{port};
    Line()
    {
        port.Settings(QStringLiteral("9600,N,8,1"));
        port.PortOpen(true);
    }
    bool run(std::unique_ptr<Exchange> ex, const QList<Reply> &replies)
    {
        port.script(replies);
        return rec.run(*ex);
    }
};

PollOptions options(bool nak, bool byteCount)
{
    PollOptions o;
    o.oneNak = [nak] { return nak; };
    o.byteCount = [byteCount] { return byteCount; };
    return o;
}
} // namespace

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(ModeView)

class TestExchange : public QObject
{
    Q_OBJECT

private slots:
    // SCPI: a query's reply line, a command's prompt, the switches that
    // write the text twice and await nothing; the limit + 1 rule for each.
    void scpi_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QList<QByteArray>>("replyLines");
        QTest::addColumn<QList<ModeView>>("views");
        QTest::addColumn<qint64>("polls");
        // Idle polls the wait's clock reports for each block of a port that
        // may block; the reply arrives during the last block. Empty: the port
        // cannot block, the replies come at the polls scripted.
        QTest::addColumn<QList<qint64>>("idle");
        using W = QList<QByteArray>;
        using V = QList<ModeView>;
        using I = QList<qint64>;
        const W idn{"*idn?\n"};
        QTest::newRow("reply and prompt together")
            << QByteArray("*idn?") << QList<Reply>{{0, 1, "Vek,Orna,1,1.0\r\n>"}} << idn
            << QByteArray("Sent *idn?\r\nVek,Orna,1,1.0\r\r\nPrompt received") << QString() << W{"Vek,Orna,1,1.0\r"}
            << V{} << qint64(1) << I{};
        QTest::newRow("prompt in a later poll") << QByteArray("*idn?") << QList<Reply>{{0, 3, "Vek"}, {0, 5, "\n"}, {0, 6, ">"}}
                                                << idn << QByteArray("Sent *idn?\r\nVek") << QString() << W{"Vek"} << V{}
                                                << qint64(5) << I{};
        QTest::newRow("empty reply line") << QByteArray("*idn?") << QList<Reply>{{0, 1, "\n>"}} << idn
                                          << QByteArray("Sent *idn?\r\n\r\nPrompt received") << QString() << W{""}
                                          << V{} << qint64(1) << I{};
        QTest::newRow("LF in the last allowed poll") << QByteArray("*idn?") << QList<Reply>{{0, 30000, "42\n"}} << idn
                                                     << QByteArray("Sent *idn?\r\n42") << QString() << W{"42"} << V{}
                                                     << qint64(30000) << I{};
        QTest::newRow("text after the line in the same poll")
            << QByteArray("*idn?") << QList<Reply>{{0, 2, "1\nrest>"}} << idn
            << QByteArray("Sent *idn?\r\n1\r\nPrompt received") << QString() << W{"1"} << V{} << qint64(2) << I{};
        QTest::newRow("LF in poll 30001") << QByteArray("*idn?") << QList<Reply>{{0, 30001, "42\n>"}} << idn
                                          << QByteArray("Sent *idn?\r\nNo response") << kNoResponse << W{} << V{}
                                          << qint64(30001) << I{};
        QTest::newRow("prompt in the last allowed poll") << QByteArray("*cls") << QList<Reply>{{0, 10000, ">"}}
                                                         << W{"*cls\n"} << QByteArray("Sent *cls\r\nPrompt received")
                                                         << QString() << W{} << V{} << qint64(10000) << I{};
        QTest::newRow("prompt in poll 10001") << QByteArray("*cls") << QList<Reply>{{0, 10001, ">"}} << W{"*cls\n"}
                                              << QByteArray("Sent *cls") << "Prompt not found." << W{} << V{}
                                              << qint64(10001) << I{};
        // "@@@" means nothing special in SCPI: a command like any other.
        QTest::newRow("@@@ is a command") << QByteArray("@@@") << QList<Reply>{{0, 1, ">"}} << W{"@@@\n"}
                                          << QByteArray("Sent @@@\r\nPrompt received") << QString() << W{} << V{}
                                          << qint64(1) << I{};
        // Small letters are no switch: written as a command, prompt awaited.
        QTest::newRow("switch in small letters") << QByteArray("syst:lang x3.28") << QList<Reply>{{0, 1, ">"}}
                                                 << W{"syst:lang x3.28\n"}
                                                 << QByteArray("Sent syst:lang x3.28\r\nPrompt received") << QString()
                                                 << W{} << V{} << qint64(1) << I{};
        QTest::newRow("switch to X3.28") << QByteArray("SYST:LANG X3.28") << QList<Reply>{}
                                         << W{"SYST:LANG X3.28\n", "SYST:LANG X3.28"}
                                         << QByteArray("Sent SYST:LANG X3.28") << QString() << W{}
                                         << V{ModeView::SwitchX328} << qint64(0) << I{};
        QTest::newRow("switch to Xon/Xoff") << QByteArray("SYST:LANG XonXoff") << QList<Reply>{}
                                            << W{"SYST:LANG XonXoff\n", "SYST:LANG XonXoff"}
                                            << QByteArray("Sent SYST:LANG XonXoff") << QString() << W{}
                                            << V{ModeView::SwitchXonXoff} << qint64(0) << I{};
        // A query that names a language is a switch, not a query; X3.28 is
        // looked for before XonXoff.
        QTest::newRow("query naming X3.28") << QByteArray("SYST:LANG X3.28?") << QList<Reply>{}
                                            << W{"SYST:LANG X3.28?\n", "SYST:LANG X3.28?"}
                                            << QByteArray("Sent SYST:LANG X3.28?") << QString() << W{}
                                            << V{ModeView::SwitchX328} << qint64(0) << I{};
        QTest::newRow("query naming XonXoff") << QByteArray("XonXoff?") << QList<Reply>{}
                                              << W{"XonXoff?\n", "XonXoff?"} << QByteArray("Sent XonXoff?") << QString()
                                              << W{} << V{ModeView::SwitchXonXoff} << qint64(0) << I{};
        QTest::newRow("both names") << QByteArray("XonXoff X3.28") << QList<Reply>{}
                                    << W{"XonXoff X3.28\n", "XonXoff X3.28"} << QByteArray("Sent XonXoff X3.28")
                                    << QString() << W{} << V{ModeView::SwitchX328} << qint64(0) << I{};
        // Idle time counts as polls; the poll past the limit is a real one.
        QTest::newRow("LF after 29998 idle polls") << QByteArray("*idn?") << QList<Reply>{} << idn
                                                  << QByteArray("Sent *idn?\r\n42") << QString() << W{"42"} << V{}
                                                  << qint64(30000) << I{29998};
        QTest::newRow("LF after 29999 idle polls") << QByteArray("*idn?") << QList<Reply>{} << idn
                                                  << QByteArray("Sent *idn?\r\nNo response") << kNoResponse << W{}
                                                  << V{} << qint64(30001) << I{29999};
        QTest::newRow("a clock past the limit is capped") << QByteArray("*idn?") << QList<Reply>{} << idn
                                                         << QByteArray("Sent *idn?\r\nNo response") << kNoResponse
                                                         << W{} << V{} << qint64(30001) << I{90000};
        QTest::newRow("LF during a long block") << QByteArray("*idn?") << QList<Reply>{} << idn
                                               << QByteArray("Sent *idn?\r\n42") << QString() << W{"42"} << V{}
                                               << qint64(5002) << I{5000};
        QTest::newRow("LF after three blocks") << QByteArray("*idn?") << QList<Reply>{} << idn
                                              << QByteArray("Sent *idn?\r\n42") << QString() << W{"42"} << V{}
                                              << qint64(1 + 10 + 1 + 20 + 1 + 30 + 1) << I{10, 20, 30};
    }
    void scpi()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<Reply>, replies);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(QList<QByteArray>, replyLines);
        QFETCH(QList<ModeView>, views);
        QFETCH(qint64, polls);
        QFETCH(QList<qint64>, idle);
        Line l;
        qsizetype blocks = 0;
        if (!idle.isEmpty()) {
            l.port.mayBlock = true;
            l.rec.hooks.block = [&](qint64 maxIdle) -> qint64 {
                const qint64 spent = blocks < idle.size() ? idle[blocks] : maxIdle;
                if (++blocks == idle.size())
                    l.port.inject("42\n");
                return spent;
            };
        }
        QVERIFY(l.run(ScpiExchange(text), replies));
        QCOMPARE(blocks, idle.size());
        QCOMPARE(l.rec.waitPolls.isEmpty() ? 0 : l.rec.waitPolls.last(), polls);
        QCOMPARE(l.port.writes, writes);
        QCOMPARE(l.rec.outStr, writes.first());
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.error, error);
        QCOMPARE(l.rec.beeps, error.isEmpty() ? 0 : 1);
        QCOMPARE(l.rec.replies, replyLines);
        QCOMPARE(l.rec.views, views);
        // The "Sent " line shows during the wait.
        QVERIFY(l.rec.repaints >= 1);
        QCOMPARE(l.rec.states.first(), "Sent " + text);
    }

    // The X3.28 link opening: only an ACK in first or second place opens it.
    void linkOpen_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("error");
        QTest::addColumn<qint64>("polls");
        const QByteArray set = "\r\nDevice address set to 5";
        QTest::newRow("lone ACK") << QList<Reply>{{0, 1, kACK}} << "Received  ACK" + set << true << "" << qint64(1);
        QTest::newRow("address and ACK") << QList<Reply>{{0, 1, "5\x06"}} << "Received 5 ACK" + set << true << ""
                                         << qint64(1);
        QTest::newRow("other character and ACK") << QList<Reply>{{0, 1, "3\x06"}} << "Received 3 ACK" + set << true
                                                 << "" << qint64(1);
        QTest::newRow("bytes after the ACK") << QList<Reply>{{0, 1, "5\x06\x15z"}} << "Received 5 ACK" + set << true
                                             << "" << qint64(1);
        QTest::newRow("address and ACK in two polls")
            << QList<Reply>{{0, 1, "5"}, {0, 7, kACK}} << "Received 5 ACK" + set << true << "" << qint64(7);
        QTest::newRow("ACK in the last poll") << QList<Reply>{{0, 30000, kACK}} << "Received  ACK" + set << true << ""
                                              << qint64(30000);
        QTest::newRow("ACK at 3") << QList<Reply>{{0, 1, "\r1\x06"}} << QByteArray("Received  13  49  6 ") << false
                                  << "" << qint64(1);
        QTest::newRow("ACK at 4") << QList<Reply>{{0, 1, "ab\x15\x06x"}} << QByteArray("Received  97  98  21  6 ")
                                  << false << "" << qint64(1);
        QTest::newRow("no reply") << QList<Reply>{} << QByteArray("Received buffer was empty") << false << kNoResponse
                                  << qint64(30001);
        QTest::newRow("NAK only") << QList<Reply>{{0, 1, kNAK}} << QByteArray("Received  21 ") << false << kNoResponse
                                  << qint64(30001);
        QTest::newRow("ACK in poll 30001") << QList<Reply>{{0, 30001, kACK}} << QByteArray("Received  6 ") << false
                                           << kNoResponse << qint64(30001);
    }
    void linkOpen()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(bool, opened);
        QFETCH(QString, error);
        QFETCH(qint64, polls);
        Line l;
        QVERIFY(l.run(LinkOpenExchange("5", "5"), replies));
        QCOMPARE(l.port.written(), QByteArray("5\x05"));
        QCOMPARE(l.rec.outStr, QByteArray()); // the link opening is no frame
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.linkOpened, opened);
        QCOMPARE(l.rec.views, opened ? QList<ModeView>{ModeView::LinkOpen} : QList<ModeView>{});
        QCOMPARE(l.rec.error, error);
        QCOMPARE(l.rec.beeps, error.isEmpty() ? 0 : 1);
        QCOMPARE(l.port.inputCalls, polls);
    }

    // The address typed for the link: checked, and as it goes on the line.
    void linkAddress_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("address"); // empty: rejected
        QTest::newRow("0") << QByteArray("0") << QByteArray("0");
        QTest::newRow("5") << QByteArray("5") << QByteArray("5");
        QTest::newRow("9") << QByteArray("9") << QByteArray("9");
        QTest::newRow("10 is A") << QByteArray("10") << QByteArray("A");
        QTest::newRow("11 is B") << QByteArray("11") << QByteArray("B");
        QTest::newRow("32 is W") << QByteArray("32") << QByteArray("W");
        QTest::newRow("blank inside counts as 15") << QByteArray("1 5") << QByteArray("F");
        QTest::newRow("leading blank sent as typed") << QByteArray(" 5") << QByteArray(" 5");
        QTest::newRow("leading zero sent as typed") << QByteArray("07") << QByteArray("07");
        QTest::newRow("fraction up to 9 sent as typed") << QByteArray("0.5") << QByteArray("0.5");
        // v + 55 rounded, halves to the even neighbour.
        QTest::newRow("9.5 rounds down to @") << QByteArray("9.5") << QByteArray("@");
        QTest::newRow("10.5 rounds up to B") << QByteArray("10.5") << QByteArray("B");
        QTest::newRow("11.5 rounds down to B") << QByteArray("11.5") << QByteArray("B");
        QTest::newRow("10.6 rounds to B") << QByteArray("10.6") << QByteArray("B");
        QTest::newRow("00") << QByteArray("00") << QByteArray();
        QTest::newRow("empty") << QByteArray("") << QByteArray();
        QTest::newRow("letters") << QByteArray("ab") << QByteArray();
        QTest::newRow("33") << QByteArray("33") << QByteArray();
        QTest::newRow("-1") << QByteArray("-1") << QByteArray();
        QTest::newRow("32.1") << QByteArray("32.1") << QByteArray();
        QTest::newRow("out of range") << QByteArray("1e999") << QByteArray();
    }
    void linkAddress()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, address);
        const std::optional<QByteArray> got = LinkAddress(typed);
        QCOMPARE(got.has_value(), !address.isEmpty());
        if (got)
            QCOMPARE(*got, address);
    }

    void selection_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");
        QTest::newRow("ACK") << QList<Reply>{{0, 3, kACK}} << QByteArray("Received Characters:  6 \r\nReceived ACK") << ""
                             << 0;
        QTest::newRow("NAK then ACK") << QList<Reply>{{0, 1, "\x15\x06"}}
                                      << QByteArray("Received Characters:  21  6 \r\nReceived ACK") << "" << 0;
        QTest::newRow("NAK, ACK a poll later") << QList<Reply>{{0, 1, kNAK}, {0, 1, kACK}}
                                               << QByteArray("Received Characters:  21  6 \r\nReceived ACK") << ""
                                               << 0;
        QTest::newRow("ACK then NAK") << QList<Reply>{{0, 1, "\x06\x15"}}
                                      << QByteArray("Received Characters:  6 \r\nReceived ACK") << "" << 0;
        QTest::newRow("noise before ACK") << QList<Reply>{{0, 1, "x\x06"}}
                                          << QByteArray("Received Characters:  120  6 \r\nReceived ACK") << "" << 0;
        QTest::newRow("NAK") << QList<Reply>{{0, 1, "\x15zz"}} << QByteArray("Received Characters:  21 \r\nReceived NAK")
                             << "" << 1;
        QTest::newRow("no answer") << QList<Reply>{{0, 1, "zz"}} << QByteArray("Sent SP1 100") << kNoResponse << 1;
        QTest::newRow("ACK in the last poll") << QList<Reply>{{0, 30000, kACK}}
                                              << QByteArray("Received Characters:  6 \r\nReceived ACK") << "" << 0;
        QTest::newRow("ACK in poll 30001") << QList<Reply>{{0, 30001, kACK}} << QByteArray("Sent SP1 100")
                                           << kNoResponse << 1;
    }
    void selection()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        Line l;
        QVERIFY(l.run(SelectExchange("SP1 100"), replies));
        QCOMPARE(l.port.written(), QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(l.rec.outStr, QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.error, error);
        QCOMPARE(l.rec.beeps, beeps);
        QCOMPARE(l.rec.views, QList<ModeView>{});
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

        QTest::newRow("plain") << happy << false << false << full << lines({kAckLines, data100, "Received EOT"}) << ""
                               << 0;
        QTest::newRow("byte count") << happy << true << false << full
                                    << lines({kAckLines, data100, "Byte Count=  6", "Received EOT"}) << "" << 0;
        const QList<Reply> repeat{{0, 1, kACK}, {1, 1, block100}, {2, 2, block101}, {3, 1, kEOT}};
        QTest::newRow("one NAK") << repeat << false << true << kPoll + kEOT + kNAK + kACK
                                 << lines({kAckLines, data100, "Sent NAK", "Received STX 101<cr> ETX", "Received EOT"})
                                 << "" << 0;
        QTest::newRow("one NAK, byte count")
            << repeat << true << true << kPoll + kEOT + kNAK + kACK
            << lines({kAckLines, data100, "Byte Count=  6", "Sent NAK", "Received STX 101<cr> ETX", "Byte Count=  6",
                      "Received EOT"})
            << "" << 0;
        QTest::newRow("repeat never comes") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}} << false << true
                                            << kPoll + kEOT + kNAK << lines({kAckLines, data100, "Sent NAK"})
                                            << kNoResponse << 1;
        QTest::newRow("data in pieces")
            << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02" "10"}, {1, 4, "0\r\x03"}, {2, 1, kEOT}} << false << false
            << full << lines({kAckLines, data100, "Received EOT"}) << "" << 0;
        QTest::newRow("empty data") << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02\x03"}, {2, 1, kEOT}} << true << false
                                    << full << lines({kAckLines, "Received STX  ETX", "Byte Count=  2", "Received EOT"})
                                    << "" << 0;
        QTest::newRow("no CR") << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02" "100\x03"}, {2, 1, kEOT}} << false << false
                               << full << lines({kAckLines, "Received STX 100 ETX", "Received EOT"}) << "" << 0;
        QTest::newRow("CR first") << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02\r99\x03"}, {2, 1, kEOT}} << false << false
                                  << full << lines({kAckLines, "Received STX <cr> ETX", "Received EOT"}) << "" << 0;
        QTest::newRow("text after CR not shown")
            << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02" "1\r2\x03"}, {2, 1, kEOT}} << true << false << full
            << lines({kAckLines, "Received STX 1<cr> ETX", "Byte Count=  5", "Received EOT"}) << "" << 0;
        QTest::newRow("byte after ETX")
            << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02" "100\x03Z"}, {2, 1, kEOT}} << true << false << full
            << lines({kAckLines, "Received STX 100 ETX", "Byte Count=  6", "Received EOT"}) << "" << 0;
        QTest::newRow("STX not first") << QList<Reply>{{0, 1, kACK}, {1, 1, "x\x02" "1\x03"}} << true << true
                                       << kPoll + kEOT << lines({kAckLines, "Received  120  2  49  3 ", "Byte Count=  4"})
                                       << "STX not first character in the buffer" << 1;
        QTest::newRow("no STX") << QList<Reply>{{0, 1, kACK}, {1, 1, "1\x03"}} << false << false << kPoll + kEOT
                                << lines({kAckLines, "Received  49  3 "}) << "STX not first character in the buffer"
                                << 1;
        QTest::newRow("NAK to the query") << QList<Reply>{{0, 1, "\x15z"}} << false << true << kPoll
                                          << QByteArray("Received Characters:  21 \r\nReceived  NAK") << "" << 1;
        QTest::newRow("NAK then ACK") << QList<Reply>{{0, 1, "\x15\x06"}, {1, 1, block100}, {2, 1, kEOT}} << false
                                      << false << full
                                      << lines({"Received Characters:  21  6 \r\nReceived  ACK", data100, "Received EOT"})
                                      << "" << 0;
        QTest::newRow("ACK then NAK") << QList<Reply>{{0, 1, "\x06\x15"}, {1, 1, block100}, {2, 1, kEOT}} << false
                                      << false << full << lines({kAckLines, data100, "Received EOT"}) << "" << 0;
        QTest::newRow("noise before ACK")
            << QList<Reply>{{0, 1, "x\x06"}, {1, 1, block100}, {2, 1, kEOT}} << false << false << full
            << lines({"Received Characters:  120  6 \r\nReceived  ACK", data100, "Received EOT"}) << "" << 0;
        QTest::newRow("ACK in poll 30000") << QList<Reply>{{0, 30000, kACK}, {1, 1, block100}, {2, 1, kEOT}} << false
                                           << false << full << lines({kAckLines, data100, "Received EOT"}) << "" << 0;
        QTest::newRow("no answer to the query") << QList<Reply>{} << false << false << kPoll << QByteArray("Sent C1")
                                                << kNoResponse << 1;
        QTest::newRow("ACK in poll 30001") << QList<Reply>{{0, 30001, kACK}} << false << false << kPoll
                                           << QByteArray("Sent C1") << kNoResponse << 1;
        QTest::newRow("no data block") << QList<Reply>{{0, 1, kACK}, {1, 1, "\x02" "100"}} << true << false
                                       << kPoll + kEOT << kAckLines << kNoResponse << 1;
        QTest::newRow("ETX in poll 30000") << QList<Reply>{{0, 1, kACK}, {1, 30000, block100}, {2, 1, kEOT}} << false
                                           << false << full << lines({kAckLines, data100, "Received EOT"}) << "" << 0;
        QTest::newRow("ETX in poll 30001") << QList<Reply>{{0, 1, kACK}, {1, 30001, block100}} << false << false
                                           << kPoll + kEOT << kAckLines << kNoResponse << 1;
        QTest::newRow("no EOT") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}} << false << false << full
                                << lines({kAckLines, data100}) << "Receive timeout error - no EOT from UUT" << 1;
        QTest::newRow("EOT in the last poll") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}, {2, 30000, kEOT}}
                                              << false << false << full << lines({kAckLines, data100, "Received EOT"})
                                              << "" << 0;
        QTest::newRow("EOT in poll 30001") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}, {2, 30001, kEOT}} << false
                                           << false << full << lines({kAckLines, data100})
                                           << "Receive timeout error - no EOT from UUT" << 1;
        QTest::newRow("bytes after EOT") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}, {2, 1, "\x04zz"}} << false
                                         << false << full << lines({kAckLines, data100, "Received \x04zz"})
                                         << "Receive buffer has more than one character" << 1;
        QTest::newRow("noise before EOT") << QList<Reply>{{0, 1, kACK}, {1, 1, block100}, {2, 1, "z"}, {2, 2, kEOT}}
                                          << false << false << full << lines({kAckLines, data100, "Received z\x04"})
                                          << "Receive buffer has more than one character" << 1;
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
        Line l;
        QVERIFY(l.run(PollExchange("C1", options(nak, byteCnt)), replies));
        QCOMPARE(l.port.written(), written);
        // The last frame written: the query block, or the EOT, NAK or ACK after it.
        QCOMPARE(l.rec.outStr, written == kPoll ? kPoll : written.right(1));
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.error, error);
        QCOMPARE(l.rec.beeps, beeps);
        // The one-shot NAK is used up once a NAK went out.
        QCOMPARE(l.rec.nakUsed, written.contains(kNAK) ? 1 : 0);
        QCOMPARE(l.rec.views, QList<ModeView>{});
    }

    // The option ticked again while the repeated block is awaited brings no
    // second NAK into the same poll.
    void oneNakPerPoll()
    {
        Line l;
        QVERIFY(l.run(PollExchange("C1", options(true, false)),
                      {{0, 1, kACK}, {1, 1, "\x02" "100\r\x03"}, {2, 5, "\x02" "101\r\x03"}, {3, 1, kEOT}}));
        QCOMPARE(l.port.written(), kPoll + kEOT + kNAK + kACK);
        QCOMPARE(l.rec.nakUsed, 1);
    }

    void xonCommand_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<bool>("timeout");

        const QByteArray sent = "Sent SP1 100\r\nReceived Characters: ";
        const QByteArray busy = kCmdBusy + "\r\nReceived Characters: ";
        QTest::newRow("XOFF and XON in one poll") << QList<Reply>{{0, 2, "\x13\x11"}} << sent + "<Xoff><Xon>" << false;
        QTest::newRow("text and CR") << QList<Reply>{{0, 1, "100\r"}} << sent + "100<cr>" << false;
        QTest::newRow("XON alone") << QList<Reply>{{0, 1, kXON}} << sent + "<Xon>" << false;
        QTest::newRow("text after CR in the same poll") << QList<Reply>{{0, 1, "OK\r\n\x11"}}
                                                        << sent + "OK<cr>\n<Xon>" << false;
        QTest::newRow("XOFF before text is no hold-off") << QList<Reply>{{0, 1, "\x13" "OK\r"}} << sent + "<Xoff>OK<cr>"
                                                         << false;
        QTest::newRow("text before XOFF") << QList<Reply>{{0, 1, "a\x13"}} << sent + "a<Xoff>" << false;
        QTest::newRow("hold-off then XON") << QList<Reply>{{0, 1, kXOFF}, {0, 5, kXON}} << busy + "<Xon>" << false;
        QTest::newRow("three hold-offs") << QList<Reply>{{0, 1, kXOFF}, {0, 2, kXOFF}, {0, 3, kXOFF}, {0, 9, "7\r"}}
                                         << busy + "7<cr>" << false;
        // Each hold-off starts a fresh count of 30000 polls.
        QTest::newRow("XON in the last poll after a hold-off")
            << QList<Reply>{{0, 20000, kXOFF}, {0, 50000, kXON}} << busy + "<Xon>" << false;
        QTest::newRow("XON one poll too late after a hold-off")
            << QList<Reply>{{0, 20000, kXOFF}, {0, 50001, kXON}} << kCmdBusy << true;
        QTest::newRow("timeout after a hold-off") << QList<Reply>{{0, 1, kXOFF}} << kCmdBusy << true;
        QTest::newRow("no answer") << QList<Reply>{{0, 1, "abc"}} << QByteArray("Sent SP1 100") << true;
        QTest::newRow("XON in poll 30001") << QList<Reply>{{0, 30001, kXON}} << QByteArray("Sent SP1 100") << true;
    }
    void xonCommand()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(bool, timeout);
        Line l;
        QVERIFY(l.run(XonCommandExchange("SP1 100"), replies));
        QCOMPARE(l.port.written(), QByteArray("= SP1 100\r"));
        QCOMPARE(l.rec.outStr, QByteArray("= SP1 100\r"));
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.error, timeout ? kNoResponse : QString());
        QCOMPARE(l.rec.beeps, timeout ? 1 : 0);
    }

    void xonQuery_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");

        const QByteArray sent = "Sent C1\r\nReceived Characters: ";
        const QByteArray busy = kQueryBusy + "\r\nReceived Characters: ";
        const QByteArray loneCr = "13 \r\nDid not receive an ACK or a NAK";
        QTest::newRow("reply") << QList<Reply>{{0, 1, "100\r"}} << sent + "100<cr>" << "" << 0;
        QTest::newRow("XOFF, XON and the value in one poll") << QList<Reply>{{0, 1, "\x13\x11" "100\r"}}
                                                             << sent + "<Xoff><Xon>100<cr>" << "" << 0;
        QTest::newRow("XON alone keeps the query waiting") << QList<Reply>{{0, 1, kXON}, {0, 9, "100\r"}}
                                                           << sent + "<Xon>100<cr>" << "" << 0;
        QTest::newRow("XON alone and nothing more") << QList<Reply>{{0, 1, kXON}} << QByteArray("Sent C1") << kNoResponse
                                                    << 1;
        QTest::newRow("hold-off then the value") << QList<Reply>{{0, 1, kXOFF}, {0, 4, "\x11" "100\r"}}
                                                 << busy + "<Xon>100<cr>" << "" << 0;
        QTest::newRow("lone CR") << QList<Reply>{{0, 1, "\r"}} << sent + loneCr << "" << 1;
        QTest::newRow("lone CR after a hold-off") << QList<Reply>{{0, 1, kXOFF}, {0, 2, "\r"}} << busy + loneCr << ""
                                                  << 1;
        QTest::newRow("CR and LF in one poll") << QList<Reply>{{0, 1, "\r\n"}} << sent + "<cr>\n" << "" << 0;
        QTest::newRow("XOFF after the value in the same poll") << QList<Reply>{{0, 1, "100\r\x13"}}
                                                               << sent + "100<cr><Xoff>" << "" << 0;
        QTest::newRow("bytes after the wait are not read") << QList<Reply>{{0, 1, "100\r"}, {0, 2, "zz"}}
                                                           << sent + "100<cr>" << "" << 0;
        QTest::newRow("value in the last poll after a hold-off")
            << QList<Reply>{{0, 20000, kXOFF}, {0, 50000, "100\r"}} << busy + "100<cr>" << "" << 0;
        QTest::newRow("value one poll too late after a hold-off")
            << QList<Reply>{{0, 20000, kXOFF}, {0, 50001, "100\r"}} << kQueryBusy << kNoResponse << 1;
        QTest::newRow("timeout after a hold-off") << QList<Reply>{{0, 1, kXOFF}} << kQueryBusy << kNoResponse << 1;
        QTest::newRow("no answer") << QList<Reply>{} << QByteArray("Sent C1") << kNoResponse << 1;
    }
    void xonQuery()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        Line l;
        QVERIFY(l.run(XonQueryExchange("C1"), replies));
        QCOMPARE(l.port.written(), QByteArray("? C1\r"));
        QCOMPARE(l.rec.outStr, QByteArray("? C1\r"));
        QCOMPARE(l.rec.transcript, transcript);
        QCOMPARE(l.rec.error, error);
        QCOMPARE(l.rec.beeps, beeps);
    }

    // A line lost at the write stops the exchange there: nothing shown as sent.
    void writeRefused()
    {
        Line l;
        l.port.loseOnWrite = true;
        QVERIFY(!l.run(ScpiExchange("*idn?"), {}));
        QVERIFY(l.rec.writeRefused);
        QCOMPARE(l.rec.transcript, QByteArray());
        QVERIFY(!RunActs(ScpiButtonActs(), l.rec));
        QCOMPARE(l.rec.views, QList<ModeView>{});
    }

    // The in-process converter: replies arrive at the poll their line time
    // says, on a clock that moves one poll's time per read.
    void simulatedLine_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::newRow("9600") << QStringLiteral("9600,N,8,1");
        QTest::newRow("1200, 7E1") << QStringLiteral("1200,E,7,1");
    }
    void simulatedLine()
    {
        QFETCH(QString, settings);
        SimConfig config;
        config.turnaroundMs = 2.0;
        SimLinePort port(config);
        QVERIFY(port.Settings(settings));
        QVERIFY(port.PortOpen(true));
        LineRecord rec(port);
        const double before = port.now();
        QVERIFY(rec.run(*ScpiExchange("*idn?")));
        const QByteArray line = OrnaEngine::identification();
        QCOMPARE(rec.replies, QList<QByteArray>{line});
        QCOMPARE(port.hostBytes(), QByteArray("*idn?\n"));
        // Query out, turn-around, reply line and LF back: the wait lasted
        // that long on the converter's clock, give or take a poll or two.
        const double ch = port.engine().lineFormat().characterSeconds();
        const double expected = 6 * ch + 0.002 + (line.size() + 1) * ch;
        QVERIFY2(qAbs(port.now() - before - expected) < 3 * SimLinePort::kPollSeconds + ch,
                 qPrintable(QStringLiteral("%1 s, expected %2 s").arg(port.now() - before).arg(expected)));
    }

    // The line lock: one operation at a time; the exit and a loss that
    // happen meanwhile come due when it ends.
    void lineLock()
    {
        LineLock lock;
        QVERIFY(lock.tryBegin());
        QVERIFY(lock.busy());
        QVERIFY(!lock.tryBegin());     // a click: refused
        QVERIFY(!lock.tryBeginTick()); // a tick: skipped
        QCOMPARE(lock.refused(), qint64(1));
        QCOMPARE(lock.skippedTicks(), qint64(1));
        QVERIFY(!lock.lineLost()); // deferred
        QVERIFY(!lock.requestExit());
        QCOMPARE(lock.state(), LineLock::State::ExitPending);
        QVERIFY(lock.stopWaits());
        const LineLock::Due due = lock.end();
        QVERIFY(due.lineLost);
        QVERIFY(due.exit);
        QCOMPARE(lock.state(), LineLock::State::Exiting);
        QVERIFY(!lock.tryBegin()); // nothing starts once the program ends
        QVERIFY(!lock.requestExit());

        LineLock idle;
        QVERIFY(idle.lineLost()); // said at once
        QVERIFY(idle.tryBeginTick());
        const LineLock::Due quiet = idle.end();
        QVERIFY(!quiet.lineLost && !quiet.exit);
        QCOMPARE(idle.state(), LineLock::State::Idle);
        QVERIFY(idle.requestExit());
        QCOMPARE(idle.state(), LineLock::State::Exiting);
    }

    // Every byte passes the monitor once, in order, with its direction;
    // received bytes join one frame until something else happens; drained
    // bytes are marked; a refused write leaves no trace; a loss that a read
    // finds follows that read's bytes.
    void lineMonitor_data()
    {
        QTest::addColumn<QStringList>("steps"); // "write:bytes", "arrive:bytes", "read", "drain", "lose", "loseOnRead", "close"
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QByteArray>("delivered"); // what the reads handed on
        const QString open = QStringLiteral("OPEN COM 1 /dev/script1 1200,N,8,1");
        QTest::newRow("write") << QStringList{"write:\x02? C1\x03"} << QStringList{open, "TX 02 3F 20 43 31 03 <STX>? C1<ETX>"}
                               << QByteArray();
        QTest::newRow("read") << QStringList{"arrive:\x06", "read"} << QStringList{open, "RX 06 <ACK>"} << QByteArray("\x06");
        QTest::newRow("two reads, one frame") << QStringList{"arrive:10", "read", "read", "arrive:0\r", "read"}
                                              << QStringList{open, "RX 31 30 30 0D 100<CR>"} << QByteArray("100\r");
        QTest::newRow("a write ends a frame")
            << QStringList{"arrive:\x06", "read", "write:\x04", "arrive:\x02", "read"}
            << QStringList{open, "RX 06 <ACK>", "TX 04 <EOT>", "RX 02 <STX>"} << QByteArray("\x06\x02");
        QTest::newRow("drain") << QStringList{"arrive:>", "drain", "arrive:1\n", "read"}
                               << QStringList{open, "DROP 3E >", "RX 31 0A 1<LF>"} << QByteArray("1\n");
        QTest::newRow("refused write") << QStringList{"close", "write:abc"} << QStringList{open, "CLOSE  "} << QByteArray();
        QTest::newRow("loss found by a read") << QStringList{"arrive:\x02", "loseOnRead", "read", "read"}
                                              << QStringList{open, "RX 02 <STX>", "LOST  the far end hung up"}
                                              << QByteArray("\x02");
        QTest::newRow("loss between reads") << QStringList{"lose", "read"}
                                            << QStringList{open, "LOST  the far end hung up"} << QByteArray();
    }
    void lineMonitor()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, records);
        QFETCH(QByteArray, delivered);
        auto monitor = std::make_shared<LineMonitor>();
        auto *script = new ScriptPort;
        MonitoredPort port(script, monitor);
        int losses = 0;
        connect(&port, &PortObject::portLost, this, [&] { ++losses; });
        port.CommPort(1);
        QVERIFY(port.Settings(QStringLiteral("1200,N,8,1"))); // a pause of 29 ms ends a frame
        QVERIFY(port.PortOpen(true));
        QByteArray got;
        for (const QString &step : steps) {
            const QString op = step.section(u':', 0, 0);
            const QByteArray bytes = step.section(u':', 1).toLatin1();
            if (op == "write")
                port.Output(bytes);
            else if (op == "arrive")
                script->inject(bytes);
            else if (op == "read")
                got += port.Input();
            else if (op == "drain")
                port.drain();
            else if (op == "lose")
                script->loseLine();
            else if (op == "loseOnRead")
                script->loseOnRead = true;
            else if (op == "close")
                port.PortOpen(false);
        }
        QStringList seen;
        for (quint64 s = monitor->firstSeq(); s <= monitor->lastSeq(); ++s) {
            const MonitorRecord &r = *monitor->find(s);
            seen << LineMonitor::kindName(r.kind) + u' ' + (r.isBytes() ? LineMonitor::hex(r.bytes) : QString()) + u' ' +
                        LineMonitor::named(r.bytes);
        }
        seen.first() = seen.first().simplified();
        QCOMPARE(seen, records);
        QCOMPARE(got, delivered);
        QCOMPARE(losses, records.last().startsWith("LOST") ? 1 : 0); // passed on once
    }

    // The ring keeps the latest records within its count and its bytes.
    void monitorRing()
    {
        LineMonitor m(3, 16);
        m.opened("x");
        for (const char *b : {"aaaa", "bbbb", "cccc"})
            m.wrote(b);
        QCOMPARE(m.size(), qsizetype(3)); // four records, three kept
        QCOMPARE(m.firstSeq(), quint64(2));
        QVERIFY(!m.find(1));
        QCOMPARE(m.find(4)->bytes, QByteArray("cccc"));
        m.wrote("dddddd"); // 16 bytes at most: the oldest makes room
        QCOMPARE(m.size(), qsizetype(3));
        QCOMPARE(m.heldBytes(), qint64(14));
        QCOMPARE(m.pushedOut(), quint64(2));
        QCOMPARE(m.find(3)->bytes, QByteArray("bbbb"));
        QCOMPARE(m.find(m.lastSeq())->bytes, QByteArray("dddddd"));
    }

    // The log's files harm nothing and lose nothing unsaid: a file is made
    // new (a name taken by a file or a link is left alone, the next free
    // name is used), a save replaces a link, not what it points to; a file
    // deleted under the log, or a full disk, is said with what is lost; a
    // save says how many records the ring pushed out before it.
    void sessionLogFiles_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("says"); // in the error; empty: none
        QTest::newRow("new file") << "new" << "";
        QTest::newRow("name taken by a file") << "taken" << "";
        QTest::newRow("name taken by a link") << "link" << "";
        QTest::newRow("file deleted while written") << "deleted"
                                                    << "was deleted or its folder removed: the records it held, from ";
        QTest::newRow("folder removed while written") << "folder" << "the line monitor still holds them";
        QTest::newRow("disk full") << "full" << ": No space left on device";
        QTest::newRow("saved after records were pushed out") << "pushed" << "";
        QTest::newRow("saved over a link") << "save link" << "";
    }
    void sessionLogFiles()
    {
        QFETCH(QString, situation);
        QFETCH(QString, says);
        QTemporaryDir top;
        QDir dir(top.path());
        QVERIFY(dir.mkdir("logs") && dir.cd("logs"));
        const QString path = dir.filePath("x.log");
        // A file of the user's that nothing may touch.
        QFile victim(top.filePath("victim"));
        QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write("precious") == 8);
        victim.close();
        QVERIFY(victim.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        if (situation == "taken") {
            QFile other(path);
            QVERIFY(other.open(QIODevice::WriteOnly) && other.write("theirs") == 6);
        }
        if (situation == "link" || situation == "save link")
            QVERIFY(QFile::link(victim.fileName(), path));
        QString target = path;
        if (situation == "full") {
            if (::mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=8k") != 0)
                QSKIP("no small file system here (mounting one needs root)");
        }
        const auto unmount = qScopeGuard([&] {
            if (situation == "full")
                ::umount(dir.path().toLocal8Bit().constData());
        });
        auto monitor = std::make_shared<LineMonitor>(4, 1 << 20);
        monitor->opened("COM 1 /dev/ttyS0 9600,N,8,1");
        monitor->wrote("*idn?\n");

        QString error;
        if (situation == "pushed" || situation == "save link") {
            for (int i = 0; i < 6; ++i)
                monitor->wrote("x"); // 8 records in all, the first 4 pushed out
            QVERIFY2(SessionLog::save(*monitor, path, &error), qPrintable(error));
        } else {
            SessionLog log(monitor);
            QVERIFY2(log.start(path, 1), qPrintable(log.error()));
            target = log.path();
            if (situation == "deleted")
                QVERIFY(QFile::remove(target));
            if (situation == "folder")
                QVERIFY(dir.removeRecursively());
            monitor->read(QByteArray(situation == "full" ? 4096 : 8, 'r'), false);
            if (!log.flush())
                error = log.error();
            QCOMPARE(log.active(), says.isEmpty());
            QVERIFY(log.finish() == says.isEmpty());
        }
        QVERIFY2(says.isEmpty() ? error.isEmpty() : error.contains(says), qPrintable(error));
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("precious"));
        QCOMPARE(victim.permissions() & (QFile::ReadOther | QFile::WriteOwner), QFile::WriteOwner);
        if (!says.isEmpty())
            return;
        if (situation == "taken" || situation == "link") {
            QCOMPARE(target, dir.filePath("x-2.log"));
            QCOMPARE(QFileInfo(path).isSymLink(), situation == "link");
        }
        QFile written(target);
        QVERIFY(!QFileInfo(target).isSymLink() && written.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = written.readAll().split('\n');
        if (situation == "pushed" || situation == "save link") {
            QCOMPARE(lines.value(2), QByteArray("# 4 records were pushed out of the monitor before they were written"));
            QCOMPARE(lines.size(), 2 + 1 + 4 + 1);
        } else {
            // The header the guide documents, then the records.
            QVERIFY2(lines.value(0).startsWith("# OrnaSerTest session log, wall clock in local time (UTC"),
                     lines.value(0).constData());
            QCOMPARE(lines.value(1), QByteArray("# wall clock\tms since the line opened\trecord\tbytes in hex\ttext"));
            QVERIFY2(lines.value(2).endsWith("\tOPEN\t-\tCOM 1 /dev/ttyS0 9600,N,8,1"), lines.value(2).constData());
            QCOMPARE(lines.size(), 2 + 3 + 1);
        }
    }

    // Response times: minimum and maximum exact, quantiles within 1 %.
    void responseTimes()
    {
        ResponseTimes t;
        QCOMPARE(t.quantile(0.5), qint64(0));
        for (int ms = 100; ms >= 1; --ms)
            t.add(qint64(ms) * 1'000'000);
        QCOMPARE(t.count(), qint64(100));
        QCOMPARE(t.min(), qint64(1'000'000));
        QCOMPARE(t.max(), qint64(100'000'000));
        QVERIFY2(qAbs(t.quantile(0.5) - 50'000'000) <= 500'000, qPrintable(QString::number(t.quantile(0.5))));
        QVERIFY2(qAbs(t.quantile(0.99) - 99'000'000) <= 990'000, qPrintable(QString::number(t.quantile(0.99))));
        QCOMPARE(t.quantile(1.0), qint64(100'000'000));
        QVERIFY2(qAbs(t.quantile(0.0) - 1'000'000) <= 10'000, qPrintable(QString::number(t.quantile(0.0))));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
