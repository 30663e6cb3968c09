// SPDX-License-Identifier: MIT
// End to end for the ANSI command table: the real main window, headless,
// through the real serial code to the program's own simulated line at 9600
// baud, reading the table back as the converter holds it.

#include "app/frmMain.h"
#include "support/SimHarness.h"

#include <QTest>

namespace {
QByteArray readBackQueries(int count)
{
    QByteArray lines;
    for (int slot = 1; slot <= count; ++slot)
        lines += "ASSIGN:ANSI?  " + QByteArray::number(slot) + "\n";
    return lines;
}
} // namespace

class TestE2ETableLoops : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // At the line rate the converter's prompt trails each reply line by a
    // character time, and the next slot's query is already out when it
    // comes: it must not show in front of the next entry.
    void readBackAtTheLineRate()
    {
        SimHarness h(SimHarness::Line::BuiltIn); // 9600 baud, EZ-Zone examples in slots 1-3
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.w->cmdRdCmdTable_Click();
        QCOMPARE(h.transcript(), QByteArray("ANSI Command Table\r\nSP1,2160,2160,6,0\r\nC1,360,0,4,0\r\nSP9,0,0,12,0"));
        QVERIFY(!h.w->errorShown());
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == readBackQueries(4); }));
    }
};

QTEST_MAIN(TestE2ETableLoops)
#include "tst_e2e_table_loops.moc"
