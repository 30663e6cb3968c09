// SPDX-License-Identifier: MIT
// End to end in X3.28: the real main window, headless, against the
// simulated Orna: the typical test run, typed as a person does it, through
// the real serial code to the simulator on a pseudo-terminal; the poll
// options, addresses as the converter takes them, the disconnect, the
// escape back to SCPI and the converter's refusals in-process.

#include "app/frmMain.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"
#include "support/UserInput.h"

#include <QApplication>
#include <QComboBox>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kEnq(1, '\x05'), kAck(1, '\x06'),
    kDle(1, '\x10'), kNak(1, '\x15');
const QString kNoResponse = QStringLiteral("Receive timeout error - no response from UUT");

QByteArray selection(const QByteArray &text) { return kStx + "= " + text + kEtx; }
QByteArray poll(const QByteArray &text) { return kStx + "? " + text + kEtx; }

// The value the converter put into a poll data block: STX, value, CR, ETX.
bool isValueText(const QByteArray &v)
{
    static const QRegularExpression number(QStringLiteral("^-?\\d+\\.\\d$"));
    return number.match(QString::fromLatin1(v)).hasMatch();
}

// The data blocks the converter sent, in order (from its frame log).
QList<QByteArray> dataBlocks(const SimHarness &h)
{
    QList<QByteArray> blocks;
    for (const SimFrame &f : h.frames())
        if (f.kind == SimFrame::ToHost && f.bytes.startsWith(kStx) && f.bytes.endsWith("\r" + kEtx))
            blocks << f.bytes.mid(1, f.bytes.size() - 3);
    return blocks;
}

int linkAddress(const SimHarness &h)
{
    int link = -2;
    h.withEngine([&](OrnaEngine &e) { link = e.linkAddress(); });
    return link;
}

// Port open, converter and program in X3.28 (through the SCPI switch).
bool toX328(SimHarness &h)
{
    if (!h.open())
        return false;
    h.send("SYST:LANG X3.28");
    return h.w->cmdMode == "X3.28" && h.waitUntil([&] { return h.language() == SimLanguage::X328; }) &&
           h.waitForLog(QStringLiteral("bare copy of the language switch"));
}

// Opens the link; on success also waits until the converter's log shows
// it, so a later clearLog() starts after it.
bool openLink(SimHarness &h, const QString &address)
{
    const auto opened = [&] { return h.logText().count(QStringLiteral("link open to address")); };
    const qsizetype before = opened();
    h.w->txtAddr->setText(address);
    h.w->cmdSet_Click();
    return h.w->AddrSetFlg && h.waitUntil([&] { return opened() == before + 1; });
}
} // namespace

class TestE2EX328 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // The road of a typical test run, typed as a person does it: SCPI switch
    // and Enter, address 5 then Tab and Space, SP1 100 and Enter, Tab to the
    // query box, C1 and Enter.
    void typicalTestRun()
    {
        // Through the real serial code, to the simulator on a pseudo-terminal.
        SimHarness h(SimHarness::Line::OwnHost);
        QVERIFY(User::showActive(h.w.get()));
        QVERIFY2(h.open(), qPrintable(h.error()));
        TranscriptRecorder rec(*h.w);

        QCOMPARE(QApplication::focusWidget(), h.w->combCmd); // where cmdInit leaves it
        User::type("SYST:LANG X3.28");
        User::key(Qt::Key_Return);
        QCOMPARE(h.transcript(), QByteArray("Sent SYST:LANG X3.28"));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(!h.w->lblX328->isHidden());
        QVERIFY(h.w->lblSCPI->isHidden());
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::X328; }));
        // The converter's prompt to the switch line has left before this log
        // line; the link open's drain takes it, as it does for an operator.
        QVERIFY(h.waitForLog(QStringLiteral("bare copy of the language switch")));

        User::typeInto(h.w->txtAddr, "5");
        QVERIFY(h.w->cmdSet->isEnabled());
        User::key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), h.w->cmdSet);
        User::key(Qt::Key_Space);
        QCOMPARE(h.transcript(), QByteArray("Received 5 ACK\r\nDevice address set to 5"));
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.w->AddrStr, QByteArray("5"));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter X3.28 parameter <space> value i.e. SP1 100"));
        QVERIFY(h.w->cmdQuery->isEnabled());
        QVERIFY(h.waitForLog(QStringLiteral("link open to address 5 (ezzone)")));
        QCOMPARE(linkAddress(h), 5);

        rec.clear();
        QCOMPARE(QApplication::focusWidget(), h.w->combCmd); // where the link open leaves it
        User::type("SP1 100");
        User::key(Qt::Key_Return);
        QCOMPARE(rec.states, (QList<QByteArray>{"Sent SP1 100", "Received Characters:  6 ",
                                                "Received Characters:  6 \r\nReceived ACK"}));
        double setPoint = 0;
        h.withEngine([&](OrnaEngine &e) { setPoint = e.controller(5)->setPoint(); });
        QCOMPARE(setPoint, 100.0);

        rec.clear();
        User::key(Qt::Key_Tab); // Send
        User::key(Qt::Key_Tab); // the query box
        QCOMPARE(QApplication::focusWidget(), h.w->combQuery);
        User::type("C1");
        User::key(Qt::Key_Return);
        QVERIFY(h.waitUntil([&] { return dataBlocks(h).size() == 1; }));
        const QByteArray value = dataBlocks(h).first();
        QVERIFY2(isValueText(value), value.constData());
        const QByteArray acked = "Received Characters:  6 \r\nReceived  ACK";
        const QByteArray data = acked + "\r\nReceived STX " + value + "<cr> ETX";
        QCOMPARE(rec.states,
                 (QList<QByteArray>{"Sent C1", "Received Characters:  6 ", acked, data, data + "\r\nReceived EOT"}));
        QCOMPARE(h.w->OutStr, kAck);
        QCOMPARE(h.w->CmdStr, QByteArray("C1"));

        QCOMPARE(h.error(), QString());
        QCOMPARE(h.seams.beeps, 0);
        const QByteArray expected = "SYST:LANG X3.28\nSYST:LANG X3.28" + QByteArray("5") + kEnq + selection("SP1 100") +
                                    poll("C1") + kEot + kAck;
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == expected; }));
        QCOMPARE(h.hostBytes(), expected);
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
        SimHarness h;
        QVERIFY(toX328(h));
        QVERIFY(openLink(h, QStringLiteral("5")));
        h.w->ckNAK->setChecked(nak);
        h.w->ckByteCnt->setChecked(byteCount);
        h.clearLog();

        h.query("C1");
        QVERIFY(h.waitUntil([&] { return dataBlocks(h).size() == (nak ? 2 : 1); }));
        const QList<QByteArray> blocks = dataBlocks(h);
        if (nak)
            QCOMPARE(blocks[1], blocks[0]); // the converter repeats the same block
        QByteArray expected = "Received Characters:  6 \r\nReceived  ACK";
        for (int i = 0; i < blocks.size(); ++i) {
            QVERIFY2(isValueText(blocks[i]), blocks[i].constData());
            expected += "\r\nReceived STX " + blocks[i] + "<cr> ETX";
            if (byteCount) // STX, the value, CR, ETX
                expected += "\r\nByte Count=  " + QByteArray::number(blocks[i].size() + 3);
            if (nak && i == 0)
                expected += "\r\nSent NAK";
        }
        expected += "\r\nReceived EOT";
        QCOMPARE(h.transcript(), expected);
        QVERIFY(!h.w->ckNAK->isChecked()); // one shot
        QCOMPARE(h.w->ckByteCnt->isChecked(), byteCount);
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.error(), QString());
        const QByteArray onTheLine = poll("C1") + kEot + (nak ? kNak : QByteArray()) + kAck;
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
        if (nak)
            QVERIFY(h.logText().contains(QStringLiteral("[data block repeated]")));

        // The next poll sends no NAK: the box was cleared.
        h.clearLog();
        h.query("C1");
        QVERIFY(h.transcript().endsWith("\r\nReceived EOT"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == poll("C1") + kEot + kAck; }));
    }

    // Addresses as typed, as they go on the line, and as the converter takes them.
    void linkOpen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("onTheLine");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<int>("link");
        QTest::newRow("5") << "5" << QByteArray("5\x05") << QByteArray("Received 5 ACK\r\nDevice address set to 5") << 5;
        QTest::newRow("12 as the letter C") << "12" << QByteArray("C\x05")
                                            << QByteArray("Received C ACK\r\nDevice address set to 12") << 12;
        QTest::newRow("1 blank 2 is 12") << "1 2" << QByteArray("C\x05")
                                         << QByteArray("Received C ACK\r\nDevice address set to 1 2") << 12;
        // Sent as typed; the converter takes the digit before ENQ.
        QTest::newRow("blank 5") << " 5" << QByteArray(" 5\x05")
                                 << QByteArray("Received 5 ACK\r\nDevice address set to  5") << 5;
        QTest::newRow("05") << "05" << QByteArray("05\x05") << QByteArray("Received 5 ACK\r\nDevice address set to 05")
                            << 5;
    }
    void linkOpen()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, onTheLine);
        QFETCH(QByteArray, transcript);
        QFETCH(int, link);
        SimConfig config = SimHarness::fastConfig();
        config.controllers.append({12, SimModel::EzZone});
        SimHarness h(config);
        QVERIFY(toX328(h));
        h.clearLog();
        QVERIFY(openLink(h, typed));
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(linkAddress(h), link);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));

        // The link reaches that controller: SP1 set through it reads back.
        h.send("SP1 42.5");
        QCOMPARE(h.transcript(), QByteArray("Received Characters:  6 \r\nReceived ACK"));
        double setPoint = 0;
        h.withEngine([&](OrnaEngine &e) { setPoint = e.controller(link)->setPoint(); });
        QCOMPARE(setPoint, 42.5);
    }

    // Silence at an address without a controller: the link-open timeout.
    // A failed open after a good one leaves no address set.
    void addressWithoutController()
    {
        SimHarness h;
        QVERIFY(toX328(h));
        QVERIFY(openLink(h, QStringLiteral("5")));
        h.clearLog();
        h.w->txtAddr->setText(QStringLiteral("7"));
        h.unpaced([&] { h.w->cmdSet_Click(); });
        QCOMPARE(h.error(), kNoResponse);
        QCOMPARE(h.transcript(), QByteArray("Received buffer was empty"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(!h.w->AddrSetFlg);
        QVERIFY(h.w->cmdDisconnect->isEnabled());
        QCOMPARE(h.w->AddrStr, QByteArray("7"));
        QVERIFY(h.waitForLog(QStringLiteral("link to 5 closed; no controller at address 7, silence")));
        QCOMPARE(linkAddress(h), -1);

        // No address: the selection is refused before anything is written.
        h.send("SP1 100");
        QCOMPARE(h.error(), QStringLiteral("Missing a device address"));
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(openLink(h, QStringLiteral("1")));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "7\x05" "1\x05"; }));
    }

    // DLE ENQ closes the converter's link; the program keeps its address, so
    // a poll goes out and meets silence until the link is opened again.
    void disconnect()
    {
        SimHarness h;
        QVERIFY(toX328(h));
        QVERIFY(openLink(h, QStringLiteral("5")));
        h.clearLog();
        h.w->cmdDisconnect_Click();
        QCOMPARE(h.transcript(), QByteArray("Sent <DLE> <ENQ>"));
        QCOMPARE(h.w->cmdMode, QByteArray("X3.28"));
        QVERIFY(!h.w->cmdDisconnect->isEnabled());
        QVERIFY(h.w->AddrSetFlg);
        QCOMPARE(h.w->cmdLbl->text(), QStringLiteral("Enter X3.28 parameter <space> value"));
        QVERIFY(h.waitForLog(QStringLiteral("link closed by the host")));
        QCOMPARE(h.hostBytes(), kDle + kEnq);
        QCOMPARE(linkAddress(h), -1);

        h.unpaced([&] { h.query("C1"); });
        QCOMPARE(h.error(), kNoResponse);
        QCOMPARE(h.transcript(), QByteArray("Sent C1"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(h.waitForLog(QStringLiteral("no link open, frame ignored")));

        QVERIFY(openLink(h, QStringLiteral("5")));
        h.query("C1");
        QVERIFY2(h.transcript().endsWith("\r\nReceived EOT"), h.transcript().constData());
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, 1);
    }

    // "@@@" typed as a device command, and the SCPI button: both sides back
    // in SCPI. The converter's link survives the trip.
    void escapeToScpi()
    {
        SimHarness h;
        QVERIFY(toX328(h));
        QVERIFY(openLink(h, QStringLiteral("5")));
        const QByteArray before = h.transcript();
        h.clearLog();
        h.send("@@@");
        QCOMPARE(h.transcript(), before); // no line of its own
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QVERIFY(!h.w->lblSCPI->isHidden());
        QVERIFY(h.w->lblX328->isHidden());
        QVERIFY(!h.w->cmdSet->isEnabled());
        QVERIFY(!h.w->cmdQuery->isEnabled());
        QCOMPARE(h.w->frmDevResp->title(), QStringLiteral("Query not active in SCPI mode"));
        QVERIFY(h.waitForLog(QStringLiteral("escape: language SCPI")));
        QCOMPARE(h.hostBytes(), QByteArray("@@@"));
        QCOMPARE(h.language(), SimLanguage::Scpi);

        h.send("*idn?");
        QVERIFY(h.transcript().startsWith("Sent *idn?\r\n" + OrnaEngine::identification()));

        // Back to X3.28: the address is still set on both sides.
        h.send("SYST:LANG X3.28");
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::X328; }));
        QVERIFY(h.waitForLog(QStringLiteral("bare copy of the language switch")));
        QCOMPARE(linkAddress(h), 5);
        h.query("C1");
        QVERIFY2(h.transcript().endsWith("\r\nReceived EOT"), h.transcript().constData());
        QVERIFY(h.waitUntil([&] { return h.hostBytes().endsWith(kEot + kAck); }));

        h.clearLog();
        h.w->cmdSCPI_Click();
        QCOMPARE(h.transcript(), QByteArray("Sent @@@\r\nSCPI commands enabled"));
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QVERIFY(h.w->cmdLdCmdTable->isEnabled());
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::Scpi; }));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "@@@"; }));
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(!h.w->errorShown());
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
        SimHarness h;
        QVERIFY(toX328(h));
        QVERIFY(openLink(h, QStringLiteral("5")));
        h.clearLog();
        if (isPoll)
            h.query(text);
        else
            h.send(text);
        QCOMPARE(h.transcript(), QByteArray("Received Characters:  21 \r\nReceived ") + (isPoll ? " NAK" : "NAK"));
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.error(), QString());
        QVERIFY(h.waitForLog(QStringLiteral("<NAK>  [%1]").arg(reason)));

        // The link stays open: the next selection is acknowledged, and
        // nothing else went out in between (no EOT after a refused poll).
        h.send("SP1 100");
        QCOMPARE(h.transcript(), QByteArray("Received Characters:  6 \r\nReceived ACK"));
        const QByteArray expected = (isPoll ? poll(text) : selection(text)) + selection("SP1 100");
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == expected; }));
        QCOMPARE(h.seams.beeps, 1);
    }
};

QTEST_MAIN(TestE2EX328)
#include "tst_e2e_x328.moc"
