// SPDX-License-Identifier: MIT
// The bench session against the simulated Orna in-process: Xon/Xoff and
// X3.28 exchanges as the converter answers them, the command table loaded
// and read back as the converter holds it, both loops on the real timer, a
// peer that streams past the receive bound, and every fault switch of the
// simulator against the exchange it targets.

#include "support/SimSessionHarness.h"

#include <QRegularExpression>
#include <QTest>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kEnq(1, '\x05'), kAck(1, '\x06'),
    kDle(1, '\x10'), kXon(1, '\x11'), kXoff(1, '\x13'), kNak(1, '\x15');
const QString kNoResponse = QStringLiteral("Receive timeout error - no response from UUT");
const QByteArray kCommandBusy = "Received <xoff> -waiting for next string";
const QByteArray kQueryBusy = "Received Xoff-waiting for next string";
const QByteArray kAcked = "Received Characters:  6 \r\nReceived  ACK";
using States = QList<QByteArray>;

QByteArray selection(const QByteArray &text) { return kStx + "= " + text + kEtx; }
QByteArray poll(const QByteArray &text) { return kStx + "? " + text + kEtx; }

bool isValueText(const QByteArray &v)
{
    static const QRegularExpression number(QStringLiteral("^-?\\d+\\.\\d$"));
    return number.match(QString::fromLatin1(v)).hasMatch();
}

// The converter with this busy time (Xon/Xoff: XON that long after XOFF).
SimConfig config(double busyMs)
{
    SimConfig c = SimSessionHarness::fastConfig();
    c.busyMs = busyMs;
    return c;
}

SimConfig withTable(SimStartTable table, QList<SimControllerConfig> controllers = {{1, SimModel::EzZone},
                                                                                   {5, SimModel::EzZone}})
{
    SimConfig c = SimSessionHarness::fastConfig();
    c.startTable = table;
    c.controllers = std::move(controllers);
    return c;
}

// Opens the X3.28 link; on success the converter's log shows it.
bool openLink(SimSessionHarness &h, const QByteArray &address)
{
    const auto opened = [&] { return h.logText().count(QStringLiteral("link open to address")); };
    const qsizetype before = opened();
    return h.s->setAddress(address) && h.state().AddrSetFlg && h.waitUntil([&] { return opened() == before + 1; });
}

// Program and converter switched through the SCPI exchange to `mode`:
// "xonxoff", "x328-nolink", or "x328" with the link to 5 open. The
// converter's log has caught up.
bool switchTo(SimSessionHarness &h, const QByteArray &mode)
{
    const bool x328 = mode.startsWith("x328");
    const QByteArray language = x328 ? "X3.28" : "XonXoff";
    h.send("SYST:LANG " + language);
    return h.state().cmdMode == language &&
           h.waitUntil([&] { return h.language() == (x328 ? SimLanguage::X328 : SimLanguage::XonXoff); }) &&
           h.waitForLog(QStringLiteral("bare copy of the language switch")) && (mode != "x328" || openLink(h, "5"));
}

// The port open, then `mode` as above or "scpi".
bool setUp(SimSessionHarness &h, const QByteArray &mode)
{
    return h.init() && (mode == "scpi" || switchTo(h, mode));
}

// What the converter sent, frame by frame (those with a note containing
// `note`, when given).
QList<QByteArray> sent(const SimSessionHarness &h, const QString &note = {})
{
    QList<QByteArray> frames;
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.note.contains(note))
            frames << f.bytes;
    return frames;
}

// The frames the converter sent that end in CR ETX: X3.28 data blocks.
QList<QByteArray> dataFrames(const SimSessionHarness &h)
{
    QList<QByteArray> blocks = sent(h);
    blocks.removeIf([](const QByteArray &f) { return !f.endsWith("\r" + kEtx); });
    return blocks;
}

// The value in a data block: STX (when there is one), value, CR, ETX.
QByteArray valueOf(QByteArray block)
{
    if (block.startsWith(kStx))
        block.remove(0, 1);
    block.chop(2);
    return block;
}

// The value of the last Xon/Xoff reply the converter sent: XON, value, CR.
QByteArray xonValue(const SimSessionHarness &h)
{
    QByteArray value;
    for (const QByteArray &f : sent(h))
        if (f.startsWith(kXon) && f.endsWith('\r'))
            value = f.mid(1, f.size() - 2);
    return value;
}

// Decimal listing as the transcript shows received codes: blank, code, blank.
QByteArray codes(const QByteArray &bytes)
{
    QByteArray out;
    for (char c : bytes)
        out += ' ' + QByteArray::number(int(uchar(c))) + ' ';
    return out;
}

// Fills the placeholders of an expected transcript from the converter's log:
// {V} the polled value, {DATACODES} the listing of the data block, {N} its
// length, {NOISE} the listing of the noise letters and {NOISERAW} the
// letters, {AFTER} the letters after the closing EOT.
QByteArray expand(QByteArray t, const SimSessionHarness &h)
{
    const QByteArray data = dataFrames(h).value(0);
    const QByteArray noise = sent(h, QStringLiteral("noise fault")).value(0);
    t.replace("{V}", valueOf(data));
    t.replace("{DATACODES}", codes(data));
    t.replace("{N}", QByteArray::number(data.size()));
    t.replace("{NOISE}", codes(noise));
    t.replace("{NOISERAW}", noise);
    t.replace("{AFTER}", sent(h, QStringLiteral("bytes-after-EOT fault")).value(0).mid(1));
    return t;
}

// The exchanges the fault switches target, by name: the X3.28 link opening
// ("link"), selection ("select") and poll ("poll", "pollCount" with the byte
// count), the Xon/Xoff command and query ("xonSelect", "xonPoll"), the table
// read-back ("readBack"). The port open, program and converter in the mode
// the exchange needs.
bool setUpFor(SimSessionHarness &h, const QByteArray &exchange)
{
    return setUp(h, exchange == "link"           ? "x328-nolink"
                    : exchange == "readBack"     ? "scpi"
                    : exchange.startsWith("xon") ? "xonxoff"
                                                 : "x328");
}

// The exchange, as the operator starts it.
void run(SimSessionHarness &h, const QByteArray &exchange)
{
    if (exchange == "link") {
        h.s->setAddress("5");
    } else if (exchange == "readBack") {
        h.s->readTable();
    } else if (exchange.endsWith("elect")) {
        h.send("SP1 100");
    } else {
        h.view.count = exchange == "pollCount";
        h.query("C1");
    }
}

QList<QByteArray> tableOf(const SimSessionHarness &h, int count)
{
    QList<QByteArray> entries;
    for (int slot = 1; slot <= count; ++slot)
        entries << h.engine().tableEntry(slot).toText();
    return entries;
}

QByteArray assignLines(const QList<QByteArray> &entries)
{
    QByteArray lines;
    for (int i = 0; i < entries.size(); ++i)
        lines += "ASSIGN:ANSI  " + QByteArray::number(i + 1) + "," + entries[i] + "\n";
    return lines;
}

QByteArray readBackQueries(int count)
{
    QByteArray lines;
    for (int slot = 1; slot <= count; ++slot)
        lines += "ASSIGN:ANSI?  " + QByteArray::number(slot) + "\n";
    return lines;
}

// The values of the poll data lines among the transcript states, in order.
QList<double> polledValues(const States &states)
{
    static const QRegularExpression line(QStringLiteral("Received STX (-?\\d+\\.\\d)<cr> ETX$"));
    QList<double> values;
    for (const QByteArray &s : states)
        if (const auto m = line.match(QString::fromLatin1(s)); m.hasMatch())
            values << m.captured(1).toDouble();
    return values;
}

const QRegularExpression kFullPoll(QStringLiteral(
    "^Received Characters:  6 \\r\\nReceived  ACK\\r\\nReceived STX -?\\d+\\.\\d<cr> ETX\\r\\nReceived EOT$"));
} // namespace

class TestSimSession : public QObject
{
    Q_OBJECT

private slots:
    // ---- Xon/Xoff. The converter sends XOFF at once and XON (with a
    // query's value and CR) one busy time later: with 0 both reach the
    // program in one poll; with 300 ms the XOFF has long been read alone
    // when the XON follows.

    void xonXoffCommandAndQuery_data()
    {
        QTest::addColumn<double>("busyMs");
        QTest::newRow("XOFF and XON in one write") << 0.0;
        QTest::newRow("XON 300 ms after XOFF") << 300.0;
    }
    void xonXoffCommandAndQuery()
    {
        QFETCH(double, busyMs);
        SimSessionHarness h(config(busyMs));
        QVERIFY(setUp(h, "xonxoff"));
        QCOMPARE(h.view.transcript, QByteArray("Sent SYST:LANG XonXoff"));
        QVERIFY(h.view.lblXOnXoff);
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Xon/Xoff Query Only"));
        // The transcript as an answer comes: XOFF and XON in one poll, or
        // the busy line in place of the sent one, then the XON (and value).
        const auto answered = [&](const QByteArray &sentLine, const QByteArray &busy, const QByteArray &value) {
            return busyMs > 0 ? States{sentLine, busy, busy + "\r\nReceived Characters: <Xon>" + value}
                              : States{sentLine, sentLine + "\r\nReceived Characters: <Xoff><Xon>" + value};
        };

        // A command: the set point of the controller behind the converter.
        h.view.states.clear();
        h.clearLog();
        h.send("SP1 100");
        QCOMPARE(h.view.states, answered("Sent SP1 100", kCommandBusy, {}));
        QCOMPARE(h.engine().controller(1)->setPoint(), 100.0);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "= SP1 100\r"; }));

        // Queries: the set point just written, and the moving process value.
        for (const QByteArray &parameter : {QByteArray("SP1"), QByteArray("C1")}) {
            h.view.states.clear();
            h.clearLog();
            h.query(parameter);
            QVERIFY(h.waitUntil([&] { return !xonValue(h).isEmpty(); }));
            const QByteArray value = xonValue(h);
            if (parameter == "SP1")
                QCOMPARE(value, QByteArray("100.0"));
            else
                QVERIFY2(isValueText(value), value.constData());
            QCOMPARE(h.view.states, answered("Sent " + parameter, kQueryBusy, value + "<cr>"));
            QVERIFY(h.waitUntil([&] { return h.hostBytes() == "? " + parameter + "\r"; }));
        }
        QCOMPARE(h.view.beeps, 0);
        QCOMPARE(h.error(), QString());
        QCOMPARE(h.state().OutStr, QByteArray("? C1\r"));
    }

    // Replies that are no answer. A query the converter does not know: XOFF
    // and XON without a value; in one poll the XOFF ends the wait and both
    // are listed, after a hold-off the XON alone does not end it and the wait
    // runs out. A device that stays busy: the hold-off line stays, the wait
    // after it runs out.
    void xonXoffWithoutAnswer_data()
    {
        QTest::addColumn<double>("busyMs");
        QTest::addColumn<QByteArray>("query"); // empty: the command SP1 80
        QTest::addColumn<States>("states");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("logNote");
        const QString unknown = QStringLiteral("unknown mnemonic, no value");
        QTest::newRow("unknown query, XOFF and XON in one poll")
            << 0.0 << QByteArray("XX1") << States{"Sent XX1", "Sent XX1\r\nReceived Characters: <Xoff><Xon>"}
            << QString() << unknown;
        QTest::newRow("unknown query, XON alone after a hold-off")
            << 300.0 << QByteArray("XX1") << States{"Sent XX1", kQueryBusy} << kNoResponse << unknown;
        QTest::newRow("command, endless busy") << 600000.0 << QByteArray() << States{"Sent SP1 80", kCommandBusy}
                                               << kNoResponse << "host> = SP1 80<CR>";
        QTest::newRow("query, endless busy") << 600000.0 << QByteArray("C1") << States{"Sent C1", kQueryBusy}
                                             << kNoResponse << "host> ? C1<CR>";
    }
    void xonXoffWithoutAnswer()
    {
        QFETCH(double, busyMs);
        QFETCH(QByteArray, query);
        QFETCH(States, states);
        QFETCH(QString, error);
        QFETCH(QString, logNote);
        SimSessionHarness h(config(busyMs));
        QVERIFY(setUp(h, "xonxoff"));
        h.view.states.clear();
        if (query.isEmpty())
            h.send("SP1 80");
        else
            h.query(query);
        QCOMPARE(h.view.states, states);
        QCOMPARE(h.error(), error);
        QCOMPARE(h.view.beeps, error.isEmpty() ? 0 : 1);
        QVERIFY(h.waitForLog(logNote));
    }

    // The converter's hold-off fault: lone XOFFs with pauses before the
    // answer. Each restarts the wait; the busy line stays until the answer.
    void xonXoffHoldoffFault_data()
    {
        QTest::addColumn<bool>("isQuery");
        QTest::addColumn<int>("count");
        QTest::newRow("command, one hold-off") << false << 1;
        QTest::newRow("command, three hold-offs") << false << 3;
        QTest::newRow("query, one hold-off") << true << 1;
        QTest::newRow("query, three hold-offs") << true << 3;
    }
    void xonXoffHoldoffFault()
    {
        QFETCH(bool, isQuery);
        QFETCH(int, count);
        SimSessionHarness h(config(300.0));
        QVERIFY(setUp(h, "xonxoff"));
        SimFaults f;
        f.holdoff = SimTrigger::once();
        f.holdoffCount = count;
        f.holdoffMs = 150;
        h.engine().setFaults(f);
        h.view.states.clear();
        h.clearLog();
        if (isQuery)
            h.query("C1");
        else
            h.send("SP1 80");
        // The fault's XOFFs, the reply's own XOFF, then XON (and the value).
        QVERIFY(h.waitUntil([&] { return sent(h).join().count(kXoff) == count + 1 && h.logText().contains("<XON>"); }));
        QCOMPARE(h.logText().count(QStringLiteral("[hold-off fault]")), count);
        const QByteArray busy = isQuery ? kQueryBusy : kCommandBusy;
        const QByteArray answer = isQuery ? "<Xon>" + xonValue(h) + "<cr>" : QByteArray("<Xon>");
        QCOMPARE(h.view.states, (States{"Sent " + QByteArray(isQuery ? "C1" : "SP1 80"), busy,
                                        busy + "\r\nReceived Characters: " + answer}));
        QCOMPARE(h.view.beeps, 0);
        QCOMPARE(h.error(), QString());
        QCOMPARE(h.hostBytes(), QByteArray(isQuery ? "? C1\r" : "= SP1 80\r"));
        QVERIFY(h.portOpen());

        // Spent: the next exchange gets no hold-off.
        h.view.states.clear();
        h.query("SP1");
        QCOMPARE(h.view.states.size(), 3); // "Sent SP1", the busy line of the reply's own XOFF, the answer
        QCOMPARE(h.view.states.last(),
                 kQueryBusy + "\r\nReceived Characters: <Xon>" + (isQuery ? "75.0" : "80.0") + "<cr>");
    }

    // "@@@" typed as a device command: both sides back in SCPI, the
    // transcript as it was.
    void escapeToScpi_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("from Xon/Xoff") << QByteArray("xonxoff");
        QTest::newRow("from X3.28, link open") << QByteArray("x328");
    }
    void escapeToScpi()
    {
        QFETCH(QByteArray, mode);
        SimSessionHarness h;
        QVERIFY(setUp(h, mode));
        const QByteArray before = h.view.transcript;
        h.clearLog();
        h.send("@@@");
        QCOMPARE(h.view.transcript, before);
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        QCOMPARE(h.view.labels(), QStringLiteral("SCPI:1 X3.28:0 XonXoff:0"));
        QCOMPARE(h.view.cmdLbl, QStringLiteral("Enter SCPI and Modbus commands"));
        QCOMPARE(h.view.frmDevResp, QStringLiteral("Query not active in SCPI mode"));
        QVERIFY(!h.view.isEnabled("cmdSet"));
        QVERIFY(!h.view.isEnabled("cmdQuery"));
        QVERIFY(h.waitForLog(QStringLiteral("escape: language SCPI")));
        QCOMPARE(h.hostBytes(), QByteArray("@@@"));
        QCOMPARE(h.language(), SimLanguage::Scpi);
        h.send("*idn?");
        QVERIFY(h.view.transcript.startsWith("Sent *idn?\r\n" + OrnaEngine::identification()));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
    }

    // ---- X3.28

    // The converter's link survives a trip to SCPI and back: the address is
    // still set on both sides. The SCPI button then takes both to SCPI.
    void linkSurvivesTheTripToScpi()
    {
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.send("@@@");
        h.clearLog();
        QVERIFY(switchTo(h, "x328-nolink"));
        QCOMPARE(h.engine().linkAddress(), 5);
        h.query("C1");
        QVERIFY2(h.view.transcript.endsWith("\r\nReceived EOT"), h.view.transcript.constData());
        QVERIFY(h.waitUntil([&] { return h.hostBytes().endsWith(kEot + kAck); }));

        h.clearLog();
        QVERIFY(h.s->scpi());
        QCOMPARE(h.view.transcript, QByteArray("Sent @@@\r\nSCPI commands enabled"));
        QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));
        QVERIFY(h.view.isEnabled("cmdLdCmdTable"));
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::Scpi; }));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "@@@"; }));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
    }

    // The poll options: the byte count and the one-shot NAK for a repeat.
    void pollOptions_data()
    {
        QTest::addColumn<bool>("nak");
        QTest::addColumn<bool>("byteCount");
        QTest::newRow("plain") << false << false;
        QTest::newRow("byte count") << false << true;
        QTest::newRow("one NAK") << true << false;
        QTest::newRow("one NAK and the byte count") << true << true;
    }
    void pollOptions()
    {
        QFETCH(bool, nak);
        QFETCH(bool, byteCount);
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.view.nak = nak;
        h.view.count = byteCount;
        h.clearLog();

        h.query("C1");
        QVERIFY(h.waitUntil([&] { return dataFrames(h).size() == (nak ? 2 : 1); }));
        const QList<QByteArray> blocks = dataFrames(h);
        if (nak)
            QCOMPARE(blocks[1], blocks[0]); // the converter repeats the same block
        QByteArray expected = kAcked;
        for (int i = 0; i < blocks.size(); ++i) {
            const QByteArray value = valueOf(blocks[i]);
            QVERIFY2(blocks[i].startsWith(kStx) && isValueText(value), blocks[i].constData());
            expected += "\r\nReceived STX " + value + "<cr> ETX";
            if (byteCount) // STX, the value, CR, ETX
                expected += "\r\nByte Count=  " + QByteArray::number(blocks[i].size());
            if (nak && i == 0)
                expected += "\r\nSent NAK";
        }
        expected += "\r\nReceived EOT";
        QCOMPARE(h.view.transcript, expected);
        QVERIFY(!h.view.nak); // one shot
        QCOMPARE(h.view.beeps, 0);
        QCOMPARE(h.error(), QString());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == poll("C1") + kEot + (nak ? kNak : QByteArray()) + kAck; }));
        if (nak)
            QVERIFY(h.logText().contains(QStringLiteral("[data block repeated]")));

        // The next poll sends no NAK: the box was cleared.
        h.clearLog();
        h.query("C1");
        QVERIFY(h.view.transcript.endsWith("\r\nReceived EOT"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == poll("C1") + kEot + kAck; }));
    }

    // Addresses as typed, as they go on the line, and as the converter takes them.
    void linkOpen_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("onTheLine");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<int>("link");
        QTest::newRow("5") << QByteArray("5") << QByteArray("5\x05")
                           << QByteArray("Received 5 ACK\r\nDevice address set to 5") << 5;
        QTest::newRow("12 as the letter C") << QByteArray("12") << QByteArray("C\x05")
                                            << QByteArray("Received C ACK\r\nDevice address set to 12") << 12;
        QTest::newRow("1 blank 2 is 12") << QByteArray("1 2") << QByteArray("C\x05")
                                         << QByteArray("Received C ACK\r\nDevice address set to 1 2") << 12;
        // Sent as typed; the converter takes the digit before ENQ.
        QTest::newRow("blank 5") << QByteArray(" 5") << QByteArray(" 5\x05")
                                 << QByteArray("Received 5 ACK\r\nDevice address set to  5") << 5;
        QTest::newRow("05") << QByteArray("05") << QByteArray("05\x05")
                            << QByteArray("Received 5 ACK\r\nDevice address set to 05") << 5;
    }
    void linkOpen()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, onTheLine);
        QFETCH(QByteArray, transcript);
        QFETCH(int, link);
        SimConfig c = SimSessionHarness::fastConfig();
        c.controllers.append({12, SimModel::EzZone});
        SimSessionHarness h(c);
        QVERIFY(setUp(h, "x328-nolink"));
        h.clearLog();
        QVERIFY(openLink(h, typed));
        QCOMPARE(h.view.transcript, transcript);
        QCOMPARE(h.view.beeps, 0);
        QCOMPARE(h.engine().linkAddress(), link);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));

        // The link reaches that controller: SP1 set through it reads back.
        h.send("SP1 42.5");
        QCOMPARE(h.view.transcript, QByteArray("Received Characters:  6 \r\nReceived ACK"));
        QCOMPARE(h.engine().controller(link)->setPoint(), 42.5);
    }

    // Silence at an address without a controller: the link-open timeout.
    // A failed open after a good one leaves no address set.
    void addressWithoutController()
    {
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.clearLog();
        h.s->setAddress("7");
        QCOMPARE(h.error(), kNoResponse);
        QCOMPARE(h.view.transcript, QByteArray("Received buffer was empty"));
        QCOMPARE(h.view.beeps, 1);
        QVERIFY(!h.state().AddrSetFlg);
        QVERIFY(h.view.isEnabled("cmdDisconnect"));
        QCOMPARE(h.state().AddrStr, QByteArray("7"));
        QVERIFY(h.waitForLog(QStringLiteral("link to 5 closed; no controller at address 7, silence")));
        QCOMPARE(h.engine().linkAddress(), -1);

        // No address: the selection is refused before anything is written.
        h.send("SP1 100");
        QCOMPARE(h.error(), QStringLiteral("Missing a device address"));
        QCOMPARE(h.view.beeps, 2);
        QVERIFY(openLink(h, "1"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "7\x05" "1\x05"; }));
    }

    // DLE ENQ closes the converter's link; the program keeps its address, so
    // a poll goes out and meets silence until the link is opened again.
    void disconnect()
    {
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.clearLog();
        QVERIFY(h.s->disconnectLink());
        QCOMPARE(h.view.transcript, QByteArray("Sent <DLE> <ENQ>"));
        QCOMPARE(h.state().cmdMode, QByteArray("X3.28"));
        QVERIFY(!h.view.isEnabled("cmdDisconnect"));
        QVERIFY(h.state().AddrSetFlg);
        QCOMPARE(h.view.cmdLbl, QStringLiteral("Enter X3.28 parameter <space> value"));
        QVERIFY(h.waitForLog(QStringLiteral("link closed by the host")));
        QCOMPARE(h.hostBytes(), kDle + kEnq);
        QCOMPARE(h.engine().linkAddress(), -1);

        h.query("C1");
        QCOMPARE(h.error(), kNoResponse);
        QCOMPARE(h.view.transcript, QByteArray("Sent C1"));
        QCOMPARE(h.view.beeps, 1);
        QVERIFY(h.waitForLog(QStringLiteral("no link open, frame ignored")));

        QVERIFY(openLink(h, "5"));
        h.query("C1");
        QVERIFY2(h.view.transcript.endsWith("\r\nReceived EOT"), h.view.transcript.constData());
        QVERIFY(!h.view.errorVisible);
        QCOMPARE(h.view.beeps, 1);
    }

    // What the converter refuses with NAK: unknown mnemonics, a parameter that
    // cannot be written, a value out of range or not a number.
    void refusals_data()
    {
        QTest::addColumn<bool>("isPoll");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("selection of an unknown mnemonic") << false << QByteArray("XX1 5") << "unknown mnemonic";
        QTest::newRow("selection of a read-only parameter") << false << QByteArray("C1 5") << "C1 is not writable";
        QTest::newRow("selection out of range") << false << QByteArray("SP1 99999") << "value out of range";
        QTest::newRow("selection of a word") << false << QByteArray("SP1 hot") << "value is not a number";
        QTest::newRow("selection without a value") << false << QByteArray("SP1") << "expected mnemonic, blank, value";
        QTest::newRow("poll of an unknown mnemonic") << true << QByteArray("XX1") << "unknown mnemonic";
    }
    void refusals()
    {
        QFETCH(bool, isPoll);
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.clearLog();
        if (isPoll)
            h.query(text);
        else
            h.send(text);
        QCOMPARE(h.view.transcript, QByteArray("Received Characters:  21 \r\nReceived ") + (isPoll ? " NAK" : "NAK"));
        QCOMPARE(h.view.beeps, 1);
        QCOMPARE(h.error(), QString());
        QVERIFY(h.waitForLog(QStringLiteral("<NAK>  [%1]").arg(reason)));

        // The link stays open: the next selection is acknowledged, and
        // nothing else went out in between (no EOT after a refused poll).
        h.send("SP1 100");
        QCOMPARE(h.view.transcript, QByteArray("Received Characters:  6 \r\nReceived ACK"));
        const QByteArray expected = (isPoll ? poll(text) : selection(text)) + selection("SP1 100");
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == expected; }));
        QCOMPARE(h.view.beeps, 1);
    }

    // ---- The command table: loaded and read back as the converter holds it

    void loadAndReadBack_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("startTable");
        QTest::addColumn<QList<QByteArray>>("entries");
        QTest::newRow("EZ-Zone into an empty table")
            << int(BenchView::Yes) << int(SimStartTable::Empty)
            << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"};
        QTest::newRow("F4 over the EZ-Zone examples")
            << int(BenchView::No) << int(SimStartTable::EzZoneExamples)
            << QList<QByteArray>{"SP1,300,300,3,1", "C1,100,0,1,1", "ID,0,0,1,1"};
    }
    void loadAndReadBack()
    {
        QFETCH(int, answer);
        QFETCH(int, startTable);
        QFETCH(QList<QByteArray>, entries);
        SimSessionHarness h(withTable(SimStartTable(startTable)));
        QVERIFY(h.init());
        h.view.answers << BenchView::Answer(answer);
        QVERIFY(h.s->loadTable());
        QCOMPARE(h.view.questions, QStringList{QStringLiteral("Select target Modbus device|Click Yes to load "
                                                              "EZ-Zone registers, No to load F4 registers")});
        QCOMPARE(h.view.transcript, QByteArray("Commands loaded"));
        QCOMPARE(h.view.command, QByteArray("*ESR?"));
        QCOMPARE(h.state().CmdStr, QByteArray("*ESR?"));
        QCOMPARE(tableOf(h, 4), entries + QList<QByteArray>{"0,0,0,0,0"});
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == assignLines(entries) + "*ESR?\n"; }));

        h.clearLog();
        QVERIFY(h.s->readTable());
        QCOMPARE(h.view.transcript, "ANSI Command Table\r\n" + entries.join("\r\n"));
        QCOMPARE(h.view.command, QByteArray("ASSIGN:ANSI?  4"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(4); }));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
    }

    // The F4 table reaches an F4 controller: ID reads its model number.
    void f4TableServesF4Controller()
    {
        SimSessionHarness h(withTable(SimStartTable::Empty, {{5, SimModel::F4}}));
        QVERIFY(h.init());
        h.view.answers << BenchView::No;
        h.s->loadTable();
        QCOMPARE(h.view.transcript, QByteArray("Commands loaded"));
        QVERIFY(switchTo(h, "x328"));
        h.query("ID");
        QCOMPARE(h.view.transcript, kAcked + "\r\nReceived STX 5270<cr> ETX\r\nReceived EOT");
        h.send("SP1 150.5");
        QCOMPARE(h.view.transcript, QByteArray("Received Characters:  6 \r\nReceived ACK"));
        h.query("SP1");
        QVERIFY2(h.view.transcript.contains("\r\nReceived STX 150.5<cr> ETX\r\n"), h.view.transcript.constData());
        QCOMPARE(h.view.beeps, 0);
    }

    // The load is judged by this load's own "*ESR?": the converter's error
    // bit from an earlier unknown command shows.
    void loadReportsTheEventStatus()
    {
        SimSessionHarness h(withTable(SimStartTable::Empty));
        QVERIFY(h.init());
        h.send("BOGUS");
        QCOMPARE(h.view.transcript, QByteArray("Sent BOGUS\r\nPrompt received"));
        h.view.answers << BenchView::Yes;
        h.s->loadTable();
        QCOMPARE(h.view.transcript, QByteArray("Loading error, ESR Register = 32"));
        QCOMPARE(h.state().Rdg, QByteArray("32"));
        QCOMPARE(h.engine().eventStatus(), 0); // read and cleared
        QCOMPARE(tableOf(h, 1), QList<QByteArray>{"SP1,2160,2160,6,0"});
    }

    void cancelledLoadSendsNothing()
    {
        SimSessionHarness h(withTable(SimStartTable::Empty));
        QVERIFY(h.init());
        h.send("*cls");
        h.view.answers << BenchView::Cancel;
        h.s->loadTable();
        QCOMPARE(h.view.questions.size(), 1);
        QCOMPARE(h.view.transcript, QByteArray("Sent *cls\r\nPrompt received"));
        h.send("*idn?");
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*cls\n*idn?\n"; }));
        QCOMPARE(tableOf(h, 1), QList<QByteArray>{"0,0,0,0,0"});
    }

    void emptyTableReadBack()
    {
        SimSessionHarness h(withTable(SimStartTable::Empty));
        QVERIFY(h.init());
        h.s->readTable();
        QCOMPARE(h.view.transcript, QByteArray("ANSI Command Table"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(1); }));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
    }

    // After the switch to X3.28 through the SCPI exchange the table buttons
    // stay enabled; the table lines must not reach the controllers.
    void tableRefusedOutsideScpi()
    {
        SimSessionHarness h;
        QVERIFY(h.init());
        h.send("SYST:LANG X3.28");
        QVERIFY(h.view.isEnabled("cmdLdCmdTable"));
        QVERIFY(h.view.isEnabled("cmdRdCmdTable"));
        h.view.answers << BenchView::Yes;
        h.s->loadTable();
        QCOMPARE(h.error(),
                 QStringLiteral("Load Examples works only in SCPI mode (current mode: X3.28); nothing was sent"));
        h.s->readTable();
        QCOMPARE(h.error(),
                 QStringLiteral("Read Table works only in SCPI mode (current mode: X3.28); nothing was sent"));
        QCOMPARE(h.view.beeps, 2);
        QVERIFY(h.view.questions.isEmpty());
        QCOMPARE(h.view.transcript, QByteArray("Sent SYST:LANG X3.28"));
        // Only the switch and what follows it reached the converter.
        h.s->scpi();
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "SYST:LANG X3.28\nSYST:LANG X3.28@@@"; }));
        QCOMPARE(tableOf(h, 4), (QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0", "0,0,0,0,0"}));
    }

    // ---- The loops, on the real timer

    // C1 polled every 100 ms while the process value runs toward a far set point.
    void queryLoopShowsCountAndMovingValue()
    {
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.send("SP1 9000");
        QCOMPARE(h.view.transcript, QByteArray("Received Characters:  6 \r\nReceived ACK"));
        h.s->chooseInterval(0);
        QCOMPARE(h.s->timer().interval(), 100);
        QVERIFY(!h.s->loops().countShown());

        h.view.states.clear();
        h.view.query = "C1";
        QVERIFY(h.s->startQueryLoop());
        QCOMPARE(h.state().QloopFlg, 1);
        QVERIFY(h.waitUntil(
            [&] {
                const QList<double> v = polledValues(h.view.states);
                return h.state().LpCount >= 5 && !v.isEmpty() && v.last() != v.first();
            },
            20000));
        // Between ticks: the count as shown, the last poll complete.
        QVERIFY(h.s->loops().countShown());
        QVERIFY(h.s->loops().countLabelShown());
        QCOMPARE(h.s->loops().countText(), QString::number(h.state().LpCount));
        QVERIFY2(kFullPoll.match(QString::fromLatin1(h.view.transcript)).hasMatch(), h.view.transcript.constData());
        const QList<double> values = polledValues(h.view.states);
        QVERIFY(values.size() >= 2);
        for (qsizetype i = 1; i < values.size(); ++i) // heading for 9000
            QVERIFY2(values[i] >= values[i - 1],
                     qPrintable(QStringLiteral("%1 then %2").arg(values[i - 1]).arg(values[i])));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);

        h.s->stopQueryLoop();
        QCOMPARE(h.state().LpCount, 0);
        QVERIFY(!h.s->loops().countShown());
        QVERIFY(!h.s->loops().countLabelShown());
        // Stopped: no more polls go out.
        QVERIFY(h.waitUntil([&] { return h.hostBytes().endsWith(kEot + kAck); }));
        const qsizetype polls = h.hostBytes().count(poll("C1"));
        QVERIFY(!h.waitUntil([&] { return h.hostBytes().count(poll("C1")) != polls; }, 350));
    }

    // Both loops: each tick the selection, then the poll, and one count.
    void bothLoops()
    {
        SimSessionHarness h;
        QVERIFY(setUp(h, "x328"));
        h.s->chooseInterval(0);
        h.clearLog();
        h.view.command = "SP1 9000";
        h.view.query = "C1";
        QVERIFY(h.s->startCommandLoop());
        QVERIFY(h.s->startQueryLoop());
        QVERIFY(h.waitUntil([&] { return h.state().LpCount >= 4; }, 20000));
        const qint64 ticks = h.state().LpCount;
        QCOMPARE(h.s->loops().countText(), QString::number(ticks));
        QVERIFY2(kFullPoll.match(QString::fromLatin1(h.view.transcript)).hasMatch(), h.view.transcript.constData());
        h.s->stopCommandLoop();
        QCOMPARE(h.state().LpCount, ticks); // the query loop still runs
        QVERIFY(h.s->loops().countShown());
        h.s->stopQueryLoop();
        QCOMPARE(h.state().LpCount, 0);

        const QByteArray tick = selection("SP1 9000") + poll("C1") + kEot + kAck;
        QVERIFY(h.waitUntil([&] { return h.hostBytes().size() >= tick.size() * ticks; }));
        QCOMPARE(h.hostBytes(), tick.repeated(ticks));
        QCOMPARE(h.view.beeps, 0);
        QVERIFY(!h.view.errorVisible);
    }

    // ---- Every fault switch against the exchange it targets

    void faultSwitches_data()
    {
        QTest::addColumn<QByteArray>("exchange");
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<int>("nthReply");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("onTheLine");
        QTest::addColumn<QString>("logNote"); // "pending": a delayed reply is still to come

        const QString stxError = QStringLiteral("STX not first character in the buffer");
        const QString noEot = QStringLiteral("Receive timeout error - no EOT from UUT");
        const QString moreThanOne = QStringLiteral("Receive buffer has more than one character");
        const QString overflow = QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the "
                                                "awaited reply; the exchange was ended")
                                     .arg(kReceiveBound);
        const QByteArray data = kAcked + "\r\nReceived STX {V}<cr> ETX";
        const QByteArray fullPoll = poll("C1") + kEot + kAck;
        const QByteArray pollNoAck = poll("C1") + kEot;
        const QByteArray select = selection("SP1 100");
        const QByteArray link = "5" + kEnq, xonSelect = "= SP1 100\r", xonPoll = "? C1\r";
        const QByteArray sentSelect = "Sent SP1 100", sentPoll = "Sent C1";
        const QString lost = QStringLiteral("silence fault: reply lost");
        const QString babble = QStringLiteral("babble fault: no terminator");
        using F = SimFault;
        const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };

        row("nak: selection") << QByteArray("select") << F::Nak << 1
                              << QByteArray("Received Characters:  21 \r\nReceived NAK") << "" << select
                              << "[NAK fault]";
        row("nak: poll") << QByteArray("poll") << F::Nak << 1
                         << QByteArray("Received Characters:  21 \r\nReceived  NAK") << "" << poll("C1")
                         << "[NAK fault]";

        row("noise: link open") << QByteArray("link") << F::Noise << 1 << QByteArray("Received {NOISE} 53  6 ") << ""
                                << link << "[noise fault]";
        row("noise: selection") << QByteArray("select") << F::Noise << 1
                                << QByteArray("Received Characters: {NOISE} 6 \r\nReceived ACK") << "" << select
                                << "[noise fault]";
        row("noise: poll ACK") << QByteArray("poll") << F::Noise << 1
                               << QByteArray("Received Characters: {NOISE} 6 \r\nReceived  ACK\r\n"
                                             "Received STX {V}<cr> ETX\r\nReceived EOT")
                               << "" << fullPoll << "[noise fault]";
        row("noise: poll data block") << QByteArray("poll") << F::Noise << 2
                                      << kAcked + "\r\nReceived {NOISE}{DATACODES}" << stxError << pollNoAck
                                      << "[noise fault]";
        row("noise: closing EOT") << QByteArray("poll") << F::Noise << 3 << data + "\r\nReceived {NOISERAW}\x04"
                                  << moreThanOne << fullPoll << "[noise fault]";
        row("noise: Xon/Xoff command") << QByteArray("xonSelect") << F::Noise << 1
                                       << sentSelect + "\r\nReceived Characters: {NOISERAW}<Xoff>" << "" << xonSelect
                                       << "[noise fault]";
        row("noise: Xon/Xoff query") << QByteArray("xonPoll") << F::Noise << 1
                                     << sentPoll + "\r\nReceived Characters: {NOISERAW}<Xoff>" << "" << xonPoll
                                     << "[noise fault]";

        row("noStx: poll") << QByteArray("poll") << F::NoStx << 1 << kAcked + "\r\nReceived {DATACODES}" << stxError
                           << pollNoAck << "[no-STX fault]";
        row("noStx: poll with the byte count") << QByteArray("pollCount") << F::NoStx << 1
                                               << kAcked + "\r\nReceived {DATACODES}\r\nByte Count=  {N}" << stxError
                                               << pollNoAck << "[no-STX fault]";

        row("afterEot: poll") << QByteArray("poll") << F::AfterEot << 1 << data + "\r\nReceived \x04{AFTER}"
                              << moreThanOne << fullPoll << "[bytes-after-EOT fault]";

        row("silence: link open") << QByteArray("link") << F::Silence << 1 << QByteArray("Received buffer was empty")
                                  << kNoResponse << link << lost;
        row("silence: selection") << QByteArray("select") << F::Silence << 1 << sentSelect << kNoResponse << select
                                  << lost;
        row("silence: poll ACK wait") << QByteArray("poll") << F::Silence << 1 << sentPoll << kNoResponse << poll("C1")
                                      << lost;
        row("silence: poll data wait") << QByteArray("poll") << F::Silence << 2 << kAcked << kNoResponse << pollNoAck
                                       << lost;
        row("silence: poll EOT wait") << QByteArray("poll") << F::Silence << 3 << data << noEot << fullPoll << lost;
        row("silence: Xon/Xoff command") << QByteArray("xonSelect") << F::Silence << 1 << sentSelect << kNoResponse
                                         << xonSelect << lost;
        row("silence: Xon/Xoff query") << QByteArray("xonPoll") << F::Silence << 1 << sentPoll << kNoResponse
                                       << xonPoll << lost;

        row("delay: link open") << QByteArray("link") << F::Delay << 1 << QByteArray("Received buffer was empty")
                                << kNoResponse << link << "pending";
        row("delay: selection") << QByteArray("select") << F::Delay << 1 << sentSelect << kNoResponse << select
                                << "pending";
        row("delay: poll data wait") << QByteArray("poll") << F::Delay << 2 << kAcked << kNoResponse << pollNoAck
                                     << "pending";
        row("delay: poll EOT wait") << QByteArray("poll") << F::Delay << 3 << data << noEot << fullPoll << "pending";
        row("delay: Xon/Xoff query") << QByteArray("xonPoll") << F::Delay << 1 << sentPoll << kNoResponse << xonPoll
                                     << "pending";

        // A peer that streams past the receive bound.
        row("babble: link open") << QByteArray("link") << F::Babble << 1 << QByteArray("Sent SYST:LANG X3.28")
                                 << overflow << link << babble;
        row("babble: selection") << QByteArray("select") << F::Babble << 1 << sentSelect << overflow << select
                                 << babble;
        row("babble: poll data wait") << QByteArray("poll") << F::Babble << 2 << kAcked << overflow << pollNoAck
                                      << babble;
        row("babble: Xon/Xoff query") << QByteArray("xonPoll") << F::Babble << 1 << sentPoll << overflow << xonPoll
                                      << babble;
        row("babble: table read-back") << QByteArray("readBack") << F::Babble << 1
                                       << QByteArray("ANSI Command Table\r\nslot 1: no answer, reading stopped")
                                       << overflow << readBackQueries(1) << babble;
    }
    void faultSwitches()
    {
        QFETCH(QByteArray, exchange);
        QFETCH(SimFault, fault);
        QFETCH(int, nthReply);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(QByteArray, onTheLine);
        QFETCH(QString, logNote);
        // Xon/Xoff: XON 300 ms after XOFF, so a lone XOFF is read alone.
        SimSessionHarness h(config(300.0));
        QVERIFY(setUpFor(h, exchange));
        SimFaults f;
        f.*simFaultInfo(fault).trigger = SimTrigger::once(nthReply);
        f.babbleBytes = int(kReceiveBound) + 30000;
        h.engine().setFaults(f);
        h.clearLog();
        const int beepsBefore = h.view.beeps;
        run(h, exchange);

        if (logNote == QLatin1String("pending")) { // the delayed reply is still to come
            QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
            QVERIFY(h.engine().hasPendingOutput());
        } else {
            QVERIFY(h.waitForLog(logNote));
        }
        if (transcript.contains("{V}") || transcript.contains("{DATA"))
            QVERIFY(h.waitUntil([&] { return !dataFrames(h).isEmpty(); }));
        QCOMPARE(h.view.transcript, expand(transcript, h));
        QCOMPARE(h.error(), error);
        // A beep with every error and every NAK.
        QCOMPARE(h.view.beeps - beepsBefore, error.isEmpty() && !transcript.contains("NAK") ? 0 : 1);
        QVERIFY(h.portOpen());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
        if (exchange == "link")
            QVERIFY(!h.state().AddrSetFlg);
    }
};

QTEST_GUILESS_MAIN(TestSimSession)
#include "tst_sim_session.moc"
