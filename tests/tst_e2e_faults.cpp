// SPDX-License-Identifier: MIT
// Faults end to end: the real main window, headless, against the simulated
// Orna: the line dropped in the middle of every wait and under running
// loops through the real serial code (a pseudo-terminal that hangs up);
// a peer that streams past the receive bound, and every fault switch of
// the simulator against the exchange it targets, in-process.
//
// Waits that are meant to run out run unpaced (the wait only: the waits
// before it in the same exchange keep the program's pacing, so their
// answers are not outrun).

#include "app/frmMain.h"
#include "support/RecordingPort.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kEnq(1, '\x05'), kAck(1, '\x06');
const QString kNoResponse = QStringLiteral("Receive timeout error - no response from UUT");
const QByteArray kCommandBusy = "Received <xoff> -waiting for next string";
const QByteArray kQueryBusy = "Received Xoff-waiting for next string";

QByteArray selection(const QByteArray &text) { return kStx + "= " + text + kEtx; }
QByteArray poll(const QByteArray &text) { return kStx + "? " + text + kEtx; }

// Decimal listing as the transcript shows received codes: blank, code, blank.
QByteArray codes(const QByteArray &bytes)
{
    QByteArray out;
    for (char c : bytes)
        out += ' ' + QByteArray::number(int(uchar(c))) + ' ';
    return out;
}

SimConfig config(double busyMs = 20.0)
{
    SimConfig c = SimHarness::fastConfig();
    c.busyMs = busyMs;
    return c;
}

bool switchLanguage(SimHarness &h, const QByteArray &language, SimLanguage expected)
{
    h.send("SYST:LANG " + language);
    return h.waitUntil([&] { return h.language() == expected; }) &&
           h.waitForLog(QStringLiteral("bare copy of the language switch"));
}

// The program and the converter in the mode named, an X3.28 link to 5 open
// when "x328"; the converter's log has caught up.
bool setUp(SimHarness &h, const QString &mode)
{
    if (!h.open())
        return false;
    if (mode == QLatin1String("x328") || mode == QLatin1String("x328-nolink")) {
        if (!switchLanguage(h, "X3.28", SimLanguage::X328))
            return false;
        if (mode == QLatin1String("x328-nolink"))
            return true;
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.w->cmdSet_Click();
        return h.w->AddrSetFlg && h.waitForLog(QStringLiteral("link open to address 5"));
    }
    if (mode == QLatin1String("xonxoff"))
        return switchLanguage(h, "XonXoff", SimLanguage::XonXoff);
    return mode == QLatin1String("scpi");
}

// One exchange by name, as the operator starts it.
void run(SimHarness &h, const QString &exchange)
{
    if (exchange == QLatin1String("link")) {
        h.w->txtAddr->setText(QStringLiteral("5"));
        h.w->cmdSet_Click();
    } else if (exchange == QLatin1String("select") || exchange == QLatin1String("xoncmd")) {
        h.send("SP1 100");
    } else if (exchange == QLatin1String("poll") || exchange == QLatin1String("xonquery")) {
        h.query("C1");
    } else if (exchange == QLatin1String("pollCount")) {
        h.w->ckByteCnt->setChecked(true);
        h.query("C1");
    } else if (exchange == QLatin1String("scpiQuery")) {
        h.send("*idn?");
    } else if (exchange == QLatin1String("scpiCommand")) {
        h.send("*cls");
    } else if (exchange == QLatin1String("readBack")) {
        h.w->cmdRdCmdTable_Click();
    } else if (exchange == QLatin1String("load")) {
        h.seams.answers << UiSeams::Yes;
        h.w->cmdLdCmdTable_Click();
    } else {
        QFAIL(qPrintable(QStringLiteral("no exchange %1").arg(exchange)));
    }
}

// The bytes the converter sent with a given note in its log (the first).
QByteArray sentWithNote(const SimHarness &h, const QString &note)
{
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.note.contains(note))
            return f.bytes;
    return {};
}

// The poll data block as the converter sent it (with or without its STX).
QByteArray dataBlock(const SimHarness &h)
{
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.bytes.endsWith("\r" + kEtx))
            return f.bytes;
    return {};
}

// Fills the placeholders of an expected transcript from the converter's log:
// {V} the polled value, {DATACODES} the listing of the data block,
// {N} its length, {NOISE} the listing of the noise letters and {NOISERAW}
// the letters, {AFTER} the letters after the closing EOT, {XV} the value of
// an Xon/Xoff reply (XON, value, CR).
QByteArray expand(QByteArray t, const SimHarness &h)
{
    QByteArray xonValue;
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.bytes.startsWith('\x11') && f.bytes.endsWith('\r'))
            xonValue = f.bytes.mid(1, f.bytes.size() - 2);
    t.replace("{XV}", xonValue);
    const QByteArray data = dataBlock(h);
    QByteArray value = data;
    if (value.startsWith(kStx))
        value.remove(0, 1);
    value.chop(2);
    const QByteArray noise = sentWithNote(h, QStringLiteral("noise fault"));
    const QByteArray after = sentWithNote(h, QStringLiteral("bytes-after-EOT fault")).mid(1);
    t.replace("{V}", value);
    t.replace("{DATACODES}", codes(data));
    t.replace("{N}", QByteArray::number(data.size()));
    t.replace("{NOISE}", codes(noise));
    t.replace("{NOISERAW}", noise);
    t.replace("{AFTER}", after);
    return t;
}

bool lostMessage(const QString &error, const QString &path)
{
    return error.startsWith(QStringLiteral("COM 1 (%1) was lost: ").arg(path)) &&
           error.endsWith(QStringLiteral("; the port is closed."));
}
} // namespace

class TestE2EFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // ---- The far end closed during each wait

    void dropDuringWait_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<int>("nthReply");    // the drop fault strikes this reply; 0: dropped on the busy line
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QByteArray>("lastWrite"); // the program's last write before the loss
        const QByteArray acked = "Received Characters:  6 \r\nReceived  ACK";
        QTest::newRow("link open") << "x328-nolink" << "link" << 1 << QByteArray("Sent SYST:LANG X3.28")
                                   << QByteArray("5" + kEnq);
        QTest::newRow("selection") << "x328" << "select" << 1 << QByteArray("Sent SP1 100") << selection("SP1 100");
        QTest::newRow("poll, ACK wait") << "x328" << "poll" << 1 << QByteArray("Sent C1") << poll("C1");
        QTest::newRow("poll, data wait") << "x328" << "poll" << 2 << acked << kEot;
        QTest::newRow("poll, EOT wait") << "x328" << "poll" << 3 << acked + "\r\nReceived STX {V}<cr> ETX" << kAck;
        QTest::newRow("Xon/Xoff command") << "xonxoff" << "xoncmd" << 1 << QByteArray("Sent SP1 100")
                                          << QByteArray("= SP1 100\r");
        QTest::newRow("Xon/Xoff command, after a hold-off") << "xonxoff" << "xoncmd" << 0 << kCommandBusy
                                                            << QByteArray("= SP1 100\r");
        QTest::newRow("Xon/Xoff query") << "xonxoff" << "xonquery" << 1 << QByteArray("Sent C1") << QByteArray("? C1\r");
        QTest::newRow("Xon/Xoff query, after a hold-off") << "xonxoff" << "xonquery" << 0 << kQueryBusy
                                                          << QByteArray("? C1\r");
        QTest::newRow("SCPI query") << "scpi" << "scpiQuery" << 1 << QByteArray("Sent *idn?") << QByteArray("*idn?\n");
        QTest::newRow("SCPI prompt") << "scpi" << "scpiCommand" << 1 << QByteArray("Sent *cls") << QByteArray("*cls\n");
        QTest::newRow("table read-back")
            << "scpi" << "readBack" << 2
            << QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nslot 2: no answer, reading stopped")
            << QByteArray("ASSIGN:ANSI?  2\n");
        QTest::newRow("table load") << "scpi" << "load" << 2
                                    << QByteArray("Loading could not be confirmed: the line closed at slot 2")
                                    << QByteArray("ASSIGN:ANSI  2,C1,360,0,4,0\n");
    }
    void dropDuringWait()
    {
        QFETCH(QString, mode);
        QFETCH(QString, exchange);
        QFETCH(int, nthReply);
        QFETCH(QByteArray, transcript);
        QFETCH(QByteArray, lastWrite);
        // A long busy time: the hold-off line stands until the line drops.
        SimHarness h(config(600000.0), SimHarness::Line::OwnHost);
        RecordingPort *port = h.recordWrites();
        QVERIFY(setUp(h, mode));
        const QString path = h.w->MSComm1->deviceName();
        TranscriptRecorder rec(*h.w);
        if (nthReply > 0) {
            SimFaults f;
            f.drop = SimTrigger::once(nthReply);
            h.setFaults(f);
        } else {
            rec.when([](const QByteArray &t) { return t == kCommandBusy || t == kQueryBusy; },
                     [&] { h.server().dropLine(); });
        }
        const int beepsBefore = h.seams.beeps;
        run(h, exchange);

        QVERIFY2(lostMessage(h.error(), path), qPrintable(h.error()));
        QCOMPARE(h.transcript(), expand(transcript, h));
        QCOMPARE(h.seams.beeps, beepsBefore + 1);
        QVERIFY(!h.portOpen());
        QCOMPARE(port->losses, 1);
        QVERIFY(port->writesAtLoss > 0);
        QCOMPARE(port->writes[port->writesAtLoss - 1].bytes, lastWrite);
        QVERIFY(h.waitForLog(nthReply > 0 ? QStringLiteral("drop fault") : QStringLiteral("line dropped on request")));

        // Nothing more is written, whatever the operator tries; each try
        // says that the port is closed.
        QCOMPARE(port->writesAfterLoss(), 0);
        h.send("*cls");
        QVERIFY2(h.error().startsWith(QStringLiteral("The COM port is closed: COM 1 (%1) was lost: ").arg(path)),
                 qPrintable(h.error()));
        h.query("C1");
        h.w->cmdSet_Click();
        h.w->cmdDisconnect_Click();
        h.w->cmdSCPI_Click();
        h.w->cmdRdCmdTable_Click();
        QTest::qWait(50);
        QCOMPARE(port->writesAfterLoss(), 0);
        QVERIFY(!h.portOpen());

        // The program goes on: a new cmdInit serves a fresh converter.
        h.setFaults(SimFaults());
        h.clearLog();
        QVERIFY2(h.open(), qPrintable(h.error()));
        QCOMPARE(h.w->MSComm1->deviceName(), h.host().devicePath());
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        h.send("*idn?");
        QCOMPARE(h.transcript(), "Sent *idn?\r\n" + OrnaEngine::identification() + "\r\nPrompt received");
        QVERIFY(!h.w->errorShown());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*idn?\n"; }));
        QCOMPARE(port->writes.last().bytes, QByteArray("*idn?\n"));
        QVERIFY(port->writes.last().portOpen);
    }

    // Both loops running when the line drops: later ticks write nothing, are
    // not counted, and the loss is reported once.
    void loopsWhenTheLineDrops()
    {
        SimHarness h(SimHarness::Line::OwnHost);
        RecordingPort *port = h.recordWrites();
        QVERIFY(setUp(h, QStringLiteral("x328")));
        const QString path = h.w->MSComm1->deviceName();
        h.w->optTime_Click(0);
        h.w->combCmd->setEditText(QStringLiteral("SP1 100"));
        h.w->combQuery->setEditText(QStringLiteral("C1"));
        h.w->cmdCmdtst_Click();
        h.w->cmdQtst_Click();
        QVERIFY(h.waitUntil([&] { return h.w->LpCount >= 2; }, 20000));
        // The next reply of the converter (the ACK to the next tick's
        // selection) is a dropped line.
        SimFaults f;
        f.drop = SimTrigger::once();
        h.setFaults(f);
        QVERIFY(h.waitUntil([&] { return !h.portOpen(); }, 20000));
        const qint64 count = h.w->LpCount;
        const qint64 skipped = h.w->skippedTicks();
        QVERIFY(h.waitUntil([&] { return h.w->skippedTicks() >= skipped + 3; }, 20000));
        QCOMPARE(h.w->LpCount, count);
        QCOMPARE(h.w->txtCount->text(), QString::number(count));
        QCOMPARE(port->writesAfterLoss(), 0);
        QCOMPARE(port->writes[port->writesAtLoss - 1].bytes, selection("SP1 100"));
        QVERIFY2(lostMessage(h.error(), path), qPrintable(h.error()));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->CMDloopFlg, 1); // the loops never stop by themselves
        QCOMPARE(h.w->QloopFlg, 1);
    }

    // ---- A peer that streams past the receive bound

    void streamPastTheBound_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<int>("nthReply");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("link open") << "x328-nolink" << "link" << 1 << QByteArray("Sent SYST:LANG X3.28");
        QTest::newRow("selection") << "x328" << "select" << 1 << QByteArray("Sent SP1 100");
        QTest::newRow("poll, data wait") << "x328" << "poll" << 2
                                         << QByteArray("Received Characters:  6 \r\nReceived  ACK");
        QTest::newRow("Xon/Xoff query") << "xonxoff" << "xonquery" << 1 << QByteArray("Sent C1");
        QTest::newRow("table read-back") << "scpi" << "readBack" << 1
                                         << QByteArray("ANSI Command Table\r\nslot 1: no answer, reading stopped");
    }
    void streamPastTheBound()
    {
        QFETCH(QString, mode);
        QFETCH(QString, exchange);
        QFETCH(int, nthReply);
        QFETCH(QByteArray, transcript);
        SimHarness h;
        QVERIFY(setUp(h, mode));
        SimFaults f;
        f.babble = SimTrigger::once(nthReply);
        f.babbleBytes = int(kReceiveBound) + 30000;
        h.setFaults(f);
        run(h, exchange);
        QCOMPARE(h.error(), QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the "
                                           "awaited reply; the exchange was ended")
                                .arg(kReceiveBound));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(h.portOpen());
        QVERIFY(h.waitForLog(QStringLiteral("babble fault: no terminator")));
    }

    // ---- Every fault switch against the exchange it targets

    void faultSwitches_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("nthReply");
        QTest::addColumn<QString>("unpaceAt"); // "": paced; "*": the whole exchange; else the wait after this transcript end
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QByteArray>("onTheLine");
        QTest::addColumn<QString>("logNote");

        const QString stxError = QStringLiteral("STX not first character in the buffer");
        const QString noEot = QStringLiteral("Receive timeout error - no EOT from UUT");
        const QString moreThanOne = QStringLiteral("Receive buffer has more than one character");
        const QByteArray acked = "Received Characters:  6 \r\nReceived  ACK";
        const QByteArray data = acked + "\r\nReceived STX {V}<cr> ETX";
        const QByteArray fullPoll = poll("C1") + kEot + kAck;
        const QByteArray pollNoAck = poll("C1") + kEot;
        const QByteArray select = selection("SP1 100");

        QTest::newRow("nak: selection") << "x328" << "select" << "nak" << 1 << "" << QByteArray("Received Characters:  21 \r\nReceived NAK")
                                        << "" << 1 << select << "[NAK fault]";
        QTest::newRow("nak: poll") << "x328" << "poll" << "nak" << 1 << "" << QByteArray("Received Characters:  21 \r\nReceived  NAK")
                                   << "" << 1 << poll("C1") << "[NAK fault]";

        QTest::newRow("noise: link open") << "x328-nolink" << "link" << "noise" << 1 << ""
                                          << QByteArray("Received {NOISE} 53  6 ") << "" << 0 << QByteArray("5" + kEnq)
                                          << "[noise fault]";
        QTest::newRow("noise: selection") << "x328" << "select" << "noise" << 1 << ""
                                          << QByteArray("Received Characters: {NOISE} 6 \r\nReceived ACK") << "" << 0
                                          << select << "[noise fault]";
        QTest::newRow("noise: poll ACK") << "x328" << "poll" << "noise" << 1 << ""
                                         << QByteArray("Received Characters: {NOISE} 6 \r\nReceived  ACK\r\n"
                                                       "Received STX {V}<cr> ETX\r\nReceived EOT")
                                         << "" << 0 << fullPoll << "[noise fault]";
        QTest::newRow("noise: poll data block") << "x328" << "poll" << "noise" << 2 << ""
                                                << acked + "\r\nReceived {NOISE}{DATACODES}" << stxError << 1
                                                << pollNoAck << "[noise fault]";
        QTest::newRow("noise: closing EOT") << "x328" << "poll" << "noise" << 3 << ""
                                            << data + "\r\nReceived {NOISERAW}\x04" << moreThanOne << 1 << fullPoll
                                            << "[noise fault]";
        QTest::newRow("noise: Xon/Xoff command") << "xonxoff" << "xoncmd" << "noise" << 1 << ""
                                                 << QByteArray("Sent SP1 100\r\nReceived Characters: {NOISERAW}<Xoff>")
                                                 << "" << 0 << QByteArray("= SP1 100\r") << "[noise fault]";
        QTest::newRow("noise: Xon/Xoff query") << "xonxoff" << "xonquery" << "noise" << 1 << ""
                                               << QByteArray("Sent C1\r\nReceived Characters: {NOISERAW}<Xoff>") << ""
                                               << 0 << QByteArray("? C1\r") << "[noise fault]";

        QTest::newRow("noStx: poll") << "x328" << "poll" << "noStx" << 1 << "" << acked + "\r\nReceived {DATACODES}"
                                     << stxError << 1 << pollNoAck << "[no-STX fault]";
        QTest::newRow("noStx: poll with the byte count")
            << "x328" << "pollCount" << "noStx" << 1 << "" << acked + "\r\nReceived {DATACODES}\r\nByte Count=  {N}"
            << stxError << 1 << pollNoAck << "[no-STX fault]";

        QTest::newRow("afterEot: poll") << "x328" << "poll" << "afterEot" << 1 << ""
                                        << data + "\r\nReceived \x04{AFTER}" << moreThanOne << 1 << fullPoll
                                        << "[bytes-after-EOT fault]";

        QTest::newRow("silence: link open") << "x328-nolink" << "link" << "silence" << 1 << "*"
                                            << QByteArray("Received buffer was empty") << kNoResponse << 1
                                            << QByteArray("5" + kEnq) << "silence fault: reply lost";
        QTest::newRow("silence: selection") << "x328" << "select" << "silence" << 1 << "*" << QByteArray("Sent SP1 100")
                                            << kNoResponse << 1 << select << "silence fault: reply lost";
        QTest::newRow("silence: poll ACK wait") << "x328" << "poll" << "silence" << 1 << "*" << QByteArray("Sent C1")
                                                << kNoResponse << 1 << poll("C1") << "silence fault: reply lost";
        QTest::newRow("silence: poll data wait") << "x328" << "poll" << "silence" << 2 << "Received  ACK" << acked
                                                 << kNoResponse << 1 << pollNoAck << "silence fault: reply lost";
        QTest::newRow("silence: poll EOT wait") << "x328" << "poll" << "silence" << 3 << "ETX" << data << noEot << 1
                                                << fullPoll << "silence fault: reply lost";
        QTest::newRow("silence: Xon/Xoff command") << "xonxoff" << "xoncmd" << "silence" << 1 << "*"
                                                   << QByteArray("Sent SP1 100") << kNoResponse << 1
                                                   << QByteArray("= SP1 100\r") << "silence fault: reply lost";
        QTest::newRow("silence: Xon/Xoff query") << "xonxoff" << "xonquery" << "silence" << 1 << "*"
                                                 << QByteArray("Sent C1") << kNoResponse << 1 << QByteArray("? C1\r")
                                                 << "silence fault: reply lost";

        QTest::newRow("delay: link open") << "x328-nolink" << "link" << "delay" << 1 << "*"
                                          << QByteArray("Received buffer was empty") << kNoResponse << 1
                                          << QByteArray("5" + kEnq) << "pending";
        QTest::newRow("delay: selection") << "x328" << "select" << "delay" << 1 << "*" << QByteArray("Sent SP1 100")
                                          << kNoResponse << 1 << select << "pending";
        QTest::newRow("delay: poll data wait") << "x328" << "poll" << "delay" << 2 << "Received  ACK" << acked
                                               << kNoResponse << 1 << pollNoAck << "pending";
        QTest::newRow("delay: poll EOT wait") << "x328" << "poll" << "delay" << 3 << "ETX" << data << noEot << 1
                                              << fullPoll << "pending";
        QTest::newRow("delay: Xon/Xoff query") << "xonxoff" << "xonquery" << "delay" << 1 << "*"
                                               << QByteArray("Sent C1") << kNoResponse << 1 << QByteArray("? C1\r")
                                               << "pending";

        QTest::newRow("holdoff: Xon/Xoff command") << "xonxoff" << "xoncmd" << "holdoff" << 1 << ""
                                                   << kCommandBusy + "\r\nReceived Characters: <Xon>" << "" << 0
                                                   << QByteArray("= SP1 100\r") << "[hold-off fault]";
        QTest::newRow("holdoff: Xon/Xoff query") << "xonxoff" << "xonquery" << "holdoff" << 1 << ""
                                                 << kQueryBusy + "\r\nReceived Characters: <Xon>{XV}<cr>" << "" << 0
                                                 << QByteArray("? C1\r") << "[hold-off fault]";
    }
    void faultSwitches()
    {
        QFETCH(QString, mode);
        QFETCH(QString, exchange);
        QFETCH(QString, fault);
        QFETCH(int, nthReply);
        QFETCH(QString, unpaceAt);
        QFETCH(QByteArray, transcript);
        QFETCH(QString, error);
        QFETCH(int, beeps);
        QFETCH(QByteArray, onTheLine);
        QFETCH(QString, logNote);
        // Xon/Xoff: XON 300 ms after XOFF, so a lone XOFF is read alone.
        SimHarness h(config(300.0));
        QVERIFY(setUp(h, mode));
        SimFaults f;
        const SimTrigger when = SimTrigger::once(nthReply);
        if (fault == QLatin1String("nak"))
            f.nak = when;
        else if (fault == QLatin1String("noise"))
            f.noise = when;
        else if (fault == QLatin1String("noStx"))
            f.noStx = when;
        else if (fault == QLatin1String("afterEot"))
            f.afterEot = when;
        else if (fault == QLatin1String("silence"))
            f.silence = when;
        else if (fault == QLatin1String("delay"))
            f.delay = when;
        else if (fault == QLatin1String("holdoff")) {
            f.holdoff = when;
            f.holdoffMs = 100;
        } else
            QFAIL("unknown fault");
        h.setFaults(f);
        h.clearLog();
        const int beepsBefore = h.seams.beeps;

        TranscriptRecorder rec(*h.w);
        if (!unpaceAt.isEmpty() && unpaceAt != QLatin1String("*")) {
            const QByteArray end = unpaceAt.toLatin1();
            rec.when([end](const QByteArray &t) { return t.endsWith(end); }, [&] { h.w->pollPacingMicros = 0; });
        }
        if (unpaceAt == QLatin1String("*"))
            h.unpaced([&] { run(h, exchange); });
        else
            run(h, exchange);

        if (logNote == QLatin1String("pending")) { // a delayed reply is still to come
            // On a pseudo-terminal the simulator takes the frame in on its own time: once
            // its log shows the frame, the delayed reply has been scheduled.
            QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
            bool pending = false;
            h.withEngine([&](OrnaEngine &e) { pending = e.hasPendingOutput(); });
            QVERIFY(pending);
        } else {
            QVERIFY(h.waitForLog(logNote));
        }
        if (transcript.contains("{XV}"))
            QVERIFY(h.waitUntil([&] { return h.logText().contains(QLatin1String("<XON>")); }));
        if (transcript.contains("{V}") || transcript.contains("{DATA"))
            QVERIFY(h.waitUntil([&] { return !dataBlock(h).isEmpty(); }));
        QCOMPARE(h.transcript(), expand(transcript, h));
        QCOMPARE(h.error(), error);
        QCOMPARE(h.seams.beeps - beepsBefore, beeps);
        QVERIFY(h.portOpen());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
        QCOMPARE(h.hostBytes(), onTheLine);
        if (exchange == QLatin1String("link"))
            QVERIFY(!h.w->AddrSetFlg);
    }
};

QTEST_MAIN(TestE2EFaults)
#include "tst_e2e_faults.moc"
