// SPDX-License-Identifier: MIT
// End to end in X3.28: the real main window, headless, against the
// simulated Orna: the typical test run, typed as a person does it, through
// the real serial code to the simulator on a pseudo-terminal.

#include "app/frmMain.h"
#include "support/SimHarness.h"
#include "support/TranscriptRecorder.h"
#include "support/UserInput.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
const QByteArray kStx(1, '\x02'), kEtx(1, '\x03'), kEot(1, '\x04'), kEnq(1, '\x05'), kAck(1, '\x06');

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
};

QTEST_MAIN(TestE2EX328)
#include "tst_e2e_x328.moc"
