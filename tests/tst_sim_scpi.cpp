// SPDX-License-Identifier: MIT
// The stand-in converter's SCPI language: prompts, identification, event
// status, the ANSI command table and the switches to the other languages.

#include "sim/engine/OrnaEngine.h"

#include <QtTest>

namespace {
// Drives one engine on a clock that moves 0.1 s per message and collects
// every reply byte, however far in the future it is due.
struct Rig {
    explicit Rig(const SimConfig &cfg = SimConfig()) : engine(cfg) {}
    QByteArray send(const QByteArray &bytes, double advance = 0.1)
    {
        t += advance;
        engine.receive(bytes, t);
        QByteArray out;
        for (const SimOut &o : engine.takeDue(std::numeric_limits<double>::infinity()))
            out += o.bytes;
        return out;
    }
    OrnaEngine engine;
    double t = 0.0;
};

SimConfig emptyTable()
{
    SimConfig cfg;
    cfg.startTable = SimStartTable::Empty;
    return cfg;
}
} // namespace

class TestSimScpi : public QObject
{
    Q_OBJECT
private slots:
    void identificationHasFourFieldsAndPrompt_data();
    void identificationHasFourFieldsAndPrompt();
    void commandsAndEmptyLinesGetThePrompt();
    void eventStatusRecordsErrorsAndClearsOnRead();
    void assignAnsiValidatesSlotAndEntry_data();
    void assignAnsiValidatesSlotAndEntry();
    void programTableLoadAndReadBack();
    void readBackEndsAtEmptySlotAndRejectsBadSlot_data();
    void readBackEndsAtEmptySlotAndRejectsBadSlot();
    void languageHeadersAcceptShortLongAndCase_data();
    void languageHeadersAcceptShortLongAndCase();
    void bareCopyOfSwitchIsIgnored_data();
    void bareCopyOfSwitchIsIgnored();
    void lateBareCopyIsNotSwallowed();
    void escapeDiscardsPartialLine();
    void overlongLineIsACommandError();
};

void TestSimScpi::identificationHasFourFieldsAndPrompt_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("upper, LF") << QByteArray("*IDN?\n");
    QTest::newRow("lower, CR LF") << QByteArray("*idn?\r\n");
    QTest::newRow("CR alone, as terminal programs end a line") << QByteArray("*idn?\r");
    QTest::newRow("blanks around") << QByteArray("  *Idn? \n");
    QTest::newRow("after a host's DLE ENQ on leaving") << QByteArray("\x10\x05*idn?\n");
}

void TestSimScpi::identificationHasFourFieldsAndPrompt()
{
    QFETCH(QByteArray, line);
    Rig rig;
    const QByteArray reply = rig.send(line);
    QVERIFY2(reply.endsWith("\n>"), reply.constData());
    const QByteArray id = reply.left(reply.indexOf('\n'));
    const QList<QByteArray> fields = id.split(',');
    QCOMPARE(fields.size(), 4);
    QVERIFY(fields[1].contains("simulator"));
    for (const QByteArray &f : fields)
        QVERIFY(!f.trimmed().isEmpty());
}

void TestSimScpi::commandsAndEmptyLinesGetThePrompt()
{
    Rig rig;
    QCOMPARE(rig.send("*CLS\n"), QByteArray(">"));
    QCOMPARE(rig.send("\n"), QByteArray(">"));
    QCOMPARE(rig.send("\r\n"), QByteArray(">"));
    QCOMPARE(rig.send("*OPC?\n"), QByteArray("1\n>"));
    // A line split over several reads is answered once, when the LF comes.
    QCOMPARE(rig.send("*ID"), QByteArray());
    QCOMPARE(rig.send("N"), QByteArray());
    QVERIFY(rig.send("?\n").startsWith("Vek,"));
    QCOMPARE(rig.engine.eventStatus(), 0);
}

void TestSimScpi::eventStatusRecordsErrorsAndClearsOnRead()
{
    Rig rig;
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("0\n>"));
    QCOMPARE(rig.send("*STB?\n"), QByteArray("0\n>"));

    // An unknown command and an unknown query both get only the prompt.
    QCOMPARE(rig.send("MEAS:TEMP\n"), QByteArray(">"));
    QCOMPARE(rig.send("MEAS:TEMP?\n"), QByteArray(">"));
    QCOMPARE(rig.send("*IDN? extra\n"), QByteArray(">"));
    QCOMPARE(rig.send("*STB?\n"), QByteArray("32\n>"));
    QCOMPARE(rig.send("*STB?\n"), QByteArray("32\n>")); // reading the status byte clears nothing
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("32\n>"));
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("0\n>"));

    // Out of range and bad syntax together; *CLS clears both.
    rig.send("ASSIGN:ANSI 200,SP1,1,1,1,1\n");
    rig.send("ASSIGN:ANSI 1,SP1\n");
    QCOMPARE(rig.engine.eventStatus(), 48);
    QCOMPARE(rig.send("*CLS\n"), QByteArray(">"));
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("0\n>"));

    rig.send("SYST:LANG KLINGON\n");
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("16\n>"));
    QCOMPARE(rig.engine.language(), SimLanguage::Scpi);
}

void TestSimScpi::assignAnsiValidatesSlotAndEntry_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("esr");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("program's form, two blanks") << QByteArray("ASSIGN:ANSI  1,SP1,2160,2160,6,0") << 0 << 1 << QByteArray("SP1,2160,2160,6,0");
    QTest::newRow("slot 100, blank before") << QByteArray("ASSIGN:ANSI  100,ID,0,0,1,1") << 0 << 100 << QByteArray("ID,0,0,1,1");
    QTest::newRow("lower case header") << QByteArray("assign:ansi 4,c2,1,2,3,4") << 0 << 4 << QByteArray("c2,1,2,3,4");
    QTest::newRow("blanks inside") << QByteArray("ASSIGN:ANSI 5, SP2 , 7 ,8,9, 10") << 0 << 5 << QByteArray("SP2,7,8,9,10");
    QTest::newRow("slot 0") << QByteArray("ASSIGN:ANSI 0,SP1,1,1,1,1") << 16 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("slot 101") << QByteArray("ASSIGN:ANSI  101,SP1,1,1,1,1") << 16 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("register too big") << QByteArray("ASSIGN:ANSI 1,SP1,70000,0,0,0") << 16 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("slot not a number") << QByteArray("ASSIGN:ANSI x,SP1,1,1,1,1") << 32 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("too few fields") << QByteArray("ASSIGN:ANSI 1,SP1,2160") << 32 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("too many fields") << QByteArray("ASSIGN:ANSI 1,SP1,1,1,1,1,1") << 32 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("mnemonic starts with digit") << QByteArray("ASSIGN:ANSI 1,1SP,1,1,1,1") << 32 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("negative register") << QByteArray("ASSIGN:ANSI 1,SP1,-1,1,1,1") << 32 << 1 << QByteArray("0,0,0,0,0");
    QTest::newRow("no arguments") << QByteArray("ASSIGN:ANSI") << 32 << 1 << QByteArray("0,0,0,0,0");
}

void TestSimScpi::assignAnsiValidatesSlotAndEntry()
{
    QFETCH(QByteArray, line);
    QFETCH(int, esr);
    QFETCH(int, slot);
    QFETCH(QByteArray, stored);
    Rig rig(emptyTable());
    QCOMPARE(rig.send(line + '\n'), QByteArray(">"));
    QCOMPARE(rig.engine.eventStatus(), esr);
    const QByteArray query = "ASSIGN:ANSI? " + QByteArray::number(slot) + '\n';
    QCOMPARE(rig.send(query), stored + "\n>");
    QCOMPARE(rig.engine.tableEntry(slot).toText(), stored);
}

void TestSimScpi::programTableLoadAndReadBack()
{
    // The exact bytes of the program's "Load Examples" (F4) and "Read Table".
    Rig rig(emptyTable());
    const QList<QByteArray> entries{"SP1,300,300,3,1", "C1,100,0,1,1", "ID,0,0,1,1"};
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(rig.send("ASSIGN:ANSI  " + QByteArray::number(n) + ',' + entries[n - 1] + '\n'), QByteArray(">"));
    QCOMPARE(rig.send("*ESR?\n"), QByteArray("0\n>"));

    QList<QByteArray> listed;
    for (int n = 1; n <= 100; ++n) {
        const QByteArray reply = rig.send("ASSIGN:ANSI?  " + QByteArray::number(n) + '\n');
        QVERIFY(reply.endsWith("\n>"));
        const QByteArray line = reply.left(reply.indexOf('\n'));
        if (line.contains("0,0,0,0"))
            break;
        listed << line;
    }
    QCOMPARE(listed, entries);

    // Slot 2 emptied with the read-back form of an empty slot.
    rig.send("ASSIGN:ANSI 2,0,0,0,0,0\n");
    QCOMPARE(rig.engine.eventStatus(), 0);
    QVERIFY(rig.engine.tableEntry(2).isEmpty());
}

void TestSimScpi::readBackEndsAtEmptySlotAndRejectsBadSlot_data()
{
    QTest::addColumn<int>("startTable");
    QTest::addColumn<QList<QByteArray>>("entries"); // slots 1 to 3
    QTest::newRow("EZ-Zone examples") << int(SimStartTable::EzZoneExamples)
                                      << QList<QByteArray>{"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"};
    QTest::newRow("F4 examples") << int(SimStartTable::F4Examples)
                                 << QList<QByteArray>{"SP1,300,300,3,1", "C1,100,0,1,1", "ID,0,0,1,1"};
}

void TestSimScpi::readBackEndsAtEmptySlotAndRejectsBadSlot()
{
    QFETCH(int, startTable);
    QFETCH(QList<QByteArray>, entries);
    SimConfig cfg;
    cfg.startTable = SimStartTable(startTable);
    Rig rig(cfg);
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(rig.send("ASSIGN:ANSI?  " + QByteArray::number(n) + '\n'), entries[n - 1] + "\n>");
    QVERIFY(rig.send("ASSIGN:ANSI?  4\n").contains("0,0,0,0"));
    QCOMPARE(rig.engine.eventStatus(), 0);
    // A bad slot number sets an error bit and gives no reply line.
    QCOMPARE(rig.send("ASSIGN:ANSI? 0\n"), QByteArray(">"));
    QCOMPARE(rig.engine.eventStatus(), 16);
    QCOMPARE(rig.send("ASSIGN:ANSI? one\n"), QByteArray(">"));
    QCOMPARE(rig.engine.eventStatus(), 48);
}

void TestSimScpi::languageHeadersAcceptShortLongAndCase_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("language");
    QTest::newRow("short") << QByteArray("SYST:LANG X3.28") << int(SimLanguage::X328);
    QTest::newRow("long") << QByteArray("SYSTEM:LANGUAGE XonXoff") << int(SimLanguage::XonXoff);
    QTest::newRow("lower") << QByteArray("syst:lang xonxoff") << int(SimLanguage::XonXoff);
    QTest::newRow("leading colon") << QByteArray(":Syst:Language x3.28") << int(SimLanguage::X328);
    QTest::newRow("scpi stays") << QByteArray("SYST:LANG SCPI") << int(SimLanguage::Scpi);
    QTest::newRow("half a long form") << QByteArray("SYSTE:LANG X3.28") << int(SimLanguage::Scpi);
}

void TestSimScpi::languageHeadersAcceptShortLongAndCase()
{
    QFETCH(QByteArray, line);
    QFETCH(int, language);
    Rig rig;
    QCOMPARE(rig.send(line + '\n'), QByteArray(">"));
    QCOMPARE(int(rig.engine.language()), language);
}

void TestSimScpi::bareCopyOfSwitchIsIgnored_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("oneRead");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("X3.28, one read") << QByteArray("SYST:LANG X3.28") << true << QByteArray("5\x05") << QByteArray("5\x06");
    QTest::newRow("X3.28, byte by byte") << QByteArray("SYST:LANG X3.28") << false << QByteArray("5\x05") << QByteArray("5\x06");
    QTest::newRow("XonXoff, one read") << QByteArray("SYST:LANG XonXoff") << true << QByteArray("= SP1 50\r") << QByteArray("\x13\x11");
    QTest::newRow("XonXoff, byte by byte") << QByteArray("SYST:LANG XonXoff") << false << QByteArray("= SP1 50\r") << QByteArray("\x13\x11");
}

void TestSimScpi::bareCopyOfSwitchIsIgnored()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, oneRead);
    QFETCH(QByteArray, next);
    QFETCH(QByteArray, expected);
    Rig rig;
    QByteArray out;
    if (oneRead) {
        out = rig.send(text + '\n' + text);
    } else {
        out = rig.send(text + '\n');
        for (char c : text)
            out += rig.send(QByteArray(1, c), 0.001);
    }
    QCOMPARE(out, QByteArray(">"));
    QCOMPARE(rig.send(next), expected);
}

void TestSimScpi::lateBareCopyIsNotSwallowed()
{
    // The copy is expected right after the switch; much later the same
    // text is just bytes of the new language.
    Rig rig;
    rig.send("SYST:LANG XonXoff\n");
    QCOMPARE(rig.send("SYST:LANG XonXoff", 5.0), QByteArray());
    // It now stands in front of the query, which is no longer a query.
    QCOMPARE(rig.send("? C1\r"), QByteArray("\x13\x11"));
    const QByteArray reply = rig.send("? C1\r");
    QVERIFY2(reply.startsWith("\x13\x11") && reply.endsWith('\r') && reply.size() > 3, reply.constData());
}

void TestSimScpi::escapeDiscardsPartialLine()
{
    Rig rig;
    // The program's SCPI button sends a bare "@@@" even in SCPI.
    QCOMPARE(rig.send("*ES@@@"), QByteArray());
    QVERIFY(rig.send("*IDN?\n").startsWith("Vek,"));
    // Typed as an SCPI line it ends in LF and still gets the prompt.
    QCOMPARE(rig.send("@@@\n"), QByteArray(">"));
    QCOMPARE(rig.engine.eventStatus(), 0);
}

void TestSimScpi::overlongLineIsACommandError()
{
    Rig rig;
    QCOMPARE(rig.send(QByteArray(5000, 'A') + '\n'), QByteArray(">"));
    QCOMPARE(rig.engine.eventStatus(), 32);
    QVERIFY(rig.send("*IDN?\n").startsWith("Vek,"));
}

QTEST_APPLESS_MAIN(TestSimScpi)
#include "tst_sim_scpi.moc"
