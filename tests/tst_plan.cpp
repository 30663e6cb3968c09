// SPDX-License-Identifier: MIT
// Plans: the parser and its faults, escapes both ways, judging a step, the
// shape pattern of a reading line, the JUnit report; and plans run on the
// bench session against the in-process simulated converter.

#include "plan/Expect.h"
#include "plan/JUnitReport.h"
#include "plan/Plan.h"
#include "plan/PlanRunner.h"
#include "plan/PlanWriter.h"
#include "support/SimSessionHarness.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using Lines = QList<QByteArray>;

namespace {

QString describe(const Expectation &e)
{
    switch (e.kind) {
    case Expectation::Line:
        return "line=" + QString::fromLatin1(e.text);
    case Expectation::LineMatch:
        return "match=" + e.pattern.pattern();
    case Expectation::Error:
        return "error=" + QString::fromLatin1(e.text);
    case Expectation::ErrorMatch:
        return "error~" + e.pattern.pattern();
    case Expectation::NoError:
        break;
    }
    return "none";
}

QString describe(const PlanStep &s)
{
    QString out = PlanStep::keyword(s.kind);
    switch (s.kind) {
    case PlanStep::Open:
        out += QStringLiteral(" %1 %2 %3").arg(s.port, s.settings()).arg(s.comNumber());
        break;
    case PlanStep::Send:
    case PlanStep::Query:
    case PlanStep::Address:
        out += '=' + QString::fromLatin1(s.text);
        break;
    case PlanStep::Nak:
    case PlanStep::Count:
        out += s.on ? "=on" : "=off";
        break;
    case PlanStep::LoadTable:
        out += s.ezZone ? "=ezzone" : "=f4";
        break;
    case PlanStep::Pause:
    case PlanStep::Repeat:
        out += '=' + QString::number(s.number);
        break;
    default:
        break;
    }
    for (const Expectation &e : s.expectations)
        out += " | " + describe(e);
    return out;
}

// The run of a plan: "line 2 #1: send=a; line 3: scpi".
QString run(const Plan &plan)
{
    QStringList out;
    for (const PlanItem &item : flattenPlan(plan))
        out << item.id() + ": " + describe(*item.step);
    return out.join("; ");
}

QString steps(const Plan &plan)
{
    QStringList out;
    for (const PlanStep &s : plan.steps)
        out << describe(s);
    return out.join("; ");
}

Plan parsed(const QByteArray &text)
{
    QList<PlanError> errors;
    Plan plan = parsePlan(text, "plan.txt", &errors);
    for (const PlanError &e : errors)
        qWarning("%s", qPrintable(e.text()));
    return errors.isEmpty() ? plan : Plan();
}

QStringList faults(const QByteArray &text)
{
    QList<PlanError> errors;
    parsePlan(text, "plan.txt", &errors);
    QStringList out;
    for (const PlanError &e : errors)
        out << e.text();
    return out;
}

} // namespace

class TestPlan : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("run"); // Latin-1, as the bytes are
        QTest::newRow("open COM") << QByteArray("open COM1") << QByteArray("line 1: open COM1 9600,N,8,1 1");
        QTest::newRow("open path, baud, format")
            << QByteArray("open /dev/ttyUSB0 19200 7E1") << QByteArray("line 1: open /dev/ttyUSB0 19200,E,7,1 0");
        QTest::newRow("open simulator") << QByteArray("open simulator 38400 7O1")
                                        << QByteArray("line 1: open simulator 38400,O,7,1 0");
        QTest::newRow("open, format only")
            << QByteArray("open COM6 7E1") << QByteArray("line 1: open COM6 9600,E,7,1 6");
        QTest::newRow("send") << QByteArray("send SP1 100") << QByteArray("line 1: send=SP1 100");
        QTest::newRow("outer blanks go, inner stay")
            << QByteArray(" \tsend \t SP1  100 \t") << QByteArray("line 1: send=SP1  100");
        QTest::newRow("send, empty entry") << QByteArray("send") << QByteArray("line 1: send=");
        QTest::newRow("query") << QByteArray("query C1") << QByteArray("line 1: query=C1");
        QTest::newRow("address") << QByteArray("address 5") << QByteArray("line 1: address=5");
        QTest::newRow("mode buttons") << QByteArray("scpi\ndisconnect\nxonxoff")
                                      << QByteArray("line 1: scpi; line 2: disconnect; line 3: xonxoff");
        QTest::newRow("check boxes") << QByteArray("nak on\ncount off")
                                     << QByteArray("line 1: nak=on; line 2: count=off");
        QTest::newRow("table") << QByteArray("load-table ezzone\nload-table f4\nread-table")
                               << QByteArray("line 1: load-table=ezzone; line 2: load-table=f4; line 3: read-table");
        QTest::newRow("pause") << QByteArray("pause 0\npause 3600000")
                               << QByteArray("line 1: pause=0; line 2: pause=3600000");
        QTest::newRow("comments, blank lines, CR LF, byte order mark")
            << QByteArray("\xef\xbb\xbf# plan\r\n\r\n   # indented\r\n\t\r\nscpi\r\n") << QByteArray("line 5: scpi");
        QTest::newRow("# inside a text is text")
            << QByteArray("send a #b\nsend \\x23") << QByteArray("line 1: send=a #b; line 2: send=#");
        QTest::newRow("escapes") << QByteArray("send \\x02\\\\\\x4a\\xff\\x20")
                                 << QByteArray("line 1: send=\x02\\J\xff ");
        QTest::newRow("Latin-1 character is its byte")
            << QByteArray("send 25\xc2\xb0") << QByteArray("line 1: send=25\xb0");
        QTest::newRow("expectations")
            << QByteArray("query C1\nexpect Received EOT\nexpect /^Received STX \\d+<cr> ETX$/\n"
                          "expect-error Prompt not found.\nexpect-error /time\\x6fut/\nexpect-error none")
            << QByteArray("line 1: query=C1 | line=Received EOT | match=^Received STX \\d+<cr> ETX$ | "
                          "error=Prompt not found. | error~time\\x6fut | none");
        QTest::newRow("expectation texts that are not patterns")
            << QByteArray("scpi\nexpect /\nexpect /a\nexpect \\x2fa/\nexpect-error \\x6eone\nexpect a\\x0d")
            << QByteArray("line 1: scpi | line=/ | line=/a | line=/a/ | error=none | line=a\r");
        QTest::newRow("nested repeats")
            << QByteArray("repeat 2\n  send a\n  repeat 2\n    query b\n    expect x\n  end\nend\nscpi")
            << QByteArray(
                   "line 2 #1: send=a; line 4 #1.1: query=b | line=x; line 4 #1.2: query=b | line=x; "
                   "line 2 #2: send=a; line 4 #2.1: query=b | line=x; line 4 #2.2: query=b | line=x; line 8: scpi");
        QTest::newRow("repeat without a step is passed over")
            << QByteArray("repeat 2000000000\nrepeat 3\nend\nend\nscpi") << QByteArray("line 5: scpi");
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, run);
        const Plan plan = parsed(text);
        QCOMPARE(::run(plan).toLatin1(), run);
        // Written back, the plan parses to the same steps.
        QCOMPARE(steps(parsed(writePlan(plan).toUtf8())), steps(plan));
    }

    void faults_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("errors");
        using L = QStringList;
        QTest::newRow("unknown step") << QByteArray("scpi\n\nsendd SP1 100") << L{"plan.txt:3: unknown step 'sendd'"};
        QTest::newRow("steps are small letters") << QByteArray("Send x") << L{"plan.txt:1: unknown step 'Send'"};
        QTest::newRow("missing port") << QByteArray("open")
                                      << L{"plan.txt:1: missing argument: open PORT [BAUD] [FORMAT]"};
        QTest::newRow("missing number") << QByteArray("pause") << L{"plan.txt:1: missing argument: pause MS"};
        QTest::newRow("extra argument") << QByteArray("scpi now") << L{"plan.txt:1: extra argument 'now': scpi"};
        QTest::newRow("extra argument to nak")
            << QByteArray("nak on off") << L{"plan.txt:1: extra argument 'off': nak on|off"};
        QTest::newRow("extra argument to open")
            << QByteArray("open COM1 9600 8N1 x") << L{"plan.txt:1: extra argument 'x': open PORT [BAUD] [FORMAT]"};
        QTest::newRow("on or off") << QByteArray("count yes") << L{"plan.txt:1: bad value 'yes': count on|off"};
        QTest::newRow("table name") << QByteArray("load-table F4")
                                    << L{"plan.txt:1: bad value 'F4': load-table ezzone|f4"};
        QTest::newRow("pause too long") << QByteArray("pause 3600001")
                                        << L{"plan.txt:1: bad number '3600001': pause MS, 0 to 3600000"};
        QTest::newRow("pause negative") << QByteArray("pause -1")
                                        << L{"plan.txt:1: bad number '-1': pause MS, 0 to 3600000"};
        QTest::newRow("pause fraction") << QByteArray("pause 1.5")
                                        << L{"plan.txt:1: bad number '1.5': pause MS, 0 to 3600000"};
        QTest::newRow("repeat 0") << QByteArray("repeat 0\nscpi\nend")
                                  << L{"plan.txt:1: bad number '0': repeat N, 1 or more"};
        QTest::newRow("repeat beyond int") << QByteArray("repeat 99999999999\nscpi\nend")
                                           << L{"plan.txt:1: bad number '99999999999': repeat N, 1 or more"};
        const QString port = "bad port '%1': COM1 to COM6, a device path starting with /, or simulator";
        QTest::newRow("COM7") << QByteArray("open COM7") << L{"plan.txt:1: " + port.arg("COM7")};
        QTest::newRow("com1") << QByteArray("open com1") << L{"plan.txt:1: " + port.arg("com1")};
        QTest::newRow("relative path") << QByteArray("open ttyS0") << L{"plan.txt:1: " + port.arg("ttyS0")};
        QTest::newRow("baud") << QByteArray("open COM1 4800")
                              << L{"plan.txt:1: bad baud rate '4800': 1200, 2400, 9600, 19200 or 38400"};
        QTest::newRow("format") << QByteArray("open COM1 9600 8E1")
                                << L{"plan.txt:1: bad format '8E1': 8N1, 7E1 or 7O1"};
        QTest::newRow("regular expression")
            << QByteArray("send a\nexpect /a(/")
            << L{"plan.txt:2: bad regular expression '/a(/': missing closing parenthesis at offset 2"};
        QTest::newRow("end without repeat") << QByteArray("scpi\nend") << L{"plan.txt:2: 'end' without 'repeat'"};
        QTest::newRow("repeat without end, at the repeat")
            << QByteArray("repeat 2\nrepeat 3\nscpi\nend") << L{"plan.txt:1: 'repeat' without 'end'"};
        const QString escape = "bad escape '%1': write a byte as \\xHH, a backslash as \\\\";
        QTest::newRow("escape of a letter") << QByteArray("send a\\qb") << L{"plan.txt:1: " + escape.arg("\\q")};
        QTest::newRow("escape, one hex digit") << QByteArray("send \\x4") << L{"plan.txt:1: " + escape.arg("\\x4")};
        QTest::newRow("escape, not hex") << QByteArray("send \\x+1") << L{"plan.txt:1: " + escape.arg("\\x+1")};
        QTest::newRow("backslash at the end") << QByteArray("send a\\") << L{"plan.txt:1: " + escape.arg("\\")};
        QTest::newRow("escape in an expectation")
            << QByteArray("scpi\nexpect \\n") << L{"plan.txt:2: " + escape.arg("\\n")};
        QTest::newRow("not one byte")
            << QByteArray("send 5\xe2\x82\xac")
            << L{"plan.txt:1: character '\u20ac' is not one byte: write the bytes you mean as \\xHH"};
        QTest::newRow("not one byte, in a pattern")
            << QByteArray("scpi\nexpect /\xf0\x9f\x94\xa5/")
            << L{"plan.txt:2: character '\U0001F525' is not one byte: write the bytes you mean as \\xHH"};
        QTest::newRow("not UTF-8") << QByteArray("send \xb0") << L{"plan.txt:1: not valid UTF-8"};
        QTest::newRow("expectation first") << QByteArray("expect x\nscpi") << L{"plan.txt:1: 'expect' before any step"};
        QTest::newRow("expectation after repeat") << QByteArray("repeat 2\nexpect-error none\nscpi\nend")
                                                  << L{"plan.txt:2: 'expect-error' must follow a step, not 'repeat'"};
        QTest::newRow("expectation after end")
            << QByteArray("repeat 2\nscpi\nend\nexpect x") << L{"plan.txt:4: 'expect' must follow a step, not 'end'"};
        QTest::newRow("expectation without text") << QByteArray("scpi\nexpect\nexpect-error")
                                                  << L{"plan.txt:2: missing argument: expect LINE|/REGEX/",
                                                       "plan.txt:3: missing argument: expect-error TEXT|/REGEX/|none"};
        QTest::newRow("no steps") << QByteArray("# nothing\n\nrepeat 2\nend\n") << L{"plan.txt: no steps"};
        // Every fault is reported, in line order; a faulty line causes no
        // second fault on the lines that depend on it.
        QTest::newRow("all faults")
            << QByteArray("repeat 2\nsendd x\nexpect y\nrepeat z\nscpi\nend\nopen COM9 1\nend\nend")
            << L{"plan.txt:2: unknown step 'sendd'", "plan.txt:4: bad number 'z': repeat N, 1 or more",
                 "plan.txt:7: " + port.arg("COM9"), "plan.txt:7: bad baud rate '1': 1200, 2400, 9600, 19200 or 38400",
                 "plan.txt:9: 'end' without 'repeat'"};
    }
    void faults()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, errors);
        QCOMPARE(::faults(text), errors);
    }

    void readFile()
    {
        QTemporaryDir dir;
        QList<PlanError> errors;
        const QString missing = dir.filePath("nosuch.plan");
        readPlan(missing, &errors);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0].text(), missing + ": cannot read: No such file or directory");

        errors.clear();
        QFile file(dir.filePath("ok.plan"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("open simulator\nsendd\n");
        file.close();
        readPlan(file.fileName(), &errors);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0].text(), file.fileName() + ":2: unknown step 'sendd'");
    }

    // Every byte, written by the writer, parses back to itself: as a step's
    // text and as an expectation's, wherever it stands.
    void escapes()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        QCOMPARE(escapeText(QByteArray("SP1 100")), QString("SP1 100"));
        QCOMPARE(escapeText(QByteArray("\x02= a\\b\x03")), QString("\\x02= a\\\\b\\x03"));
        QCOMPARE(escapeText(QByteArray(" \xb0 ")), QString("\\x20\\xb0\\x20"));

        QList<QByteArray> texts{all, " ", "  a  ", "/x/", "/", "none", "#x", "\\x41"};
        for (int b = 0; b < 256; ++b)
            texts << QByteArray(1, char(b)) << "a" + QByteArray(1, char(b)) + "b";
        for (const QByteArray &text : std::as_const(texts)) {
            PlanStep send;
            send.text = text;
            for (auto kind : {Expectation::Line, Expectation::Error})
                send.expectations << Expectation{kind, text, {}, 0};
            Plan plan;
            plan.steps << send;
            const Plan back = parsed(writePlan(plan).toUtf8());
            QCOMPARE(back.steps.size(), 1);
            QCOMPARE(back.steps[0].text, text);
            QCOMPARE(back.steps[0].expectations.size(), 2);
            QCOMPARE(back.steps[0].expectations[0].kind, Expectation::Line);
            QCOMPARE(back.steps[0].expectations[0].text, text);
            QCOMPARE(back.steps[0].expectations[1].kind, Expectation::Error);
            QCOMPARE(back.steps[0].expectations[1].text, text);
        }
    }

    void judge_data()
    {
        QTest::addColumn<QByteArray>("expectations");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("details"); // empty: the step passes
        const Lines acked{"Received Characters:  6 ", "Received  ACK"};
        const Lines naked{"Received Characters:  21 ", "Received NAK"};
        const QString timeout = "Receive timeout error - no response from UUT";
        QTest::newRow("none expected, no error") << QByteArray() << acked << ""
                                                 << "";
        QTest::newRow("none expected, an error")
            << QByteArray() << Lines{"Sent *idn?", "No response"} << timeout
            << "expected: expect-error none\nobserved: line Sent *idn?\nobserved: line No response\n"
               "observed: error Receive timeout error - no response from UUT\n";
        QTest::newRow("exact line") << QByteArray("expect Received  ACK") << acked << ""
                                    << "";
        QTest::newRow("exact line, not a part of one")
            << QByteArray("expect Received") << acked << ""
            << "expected: expect Received\nobserved: line Received Characters:  6\\x20\n"
               "observed: line Received  ACK\nobserved: no error\n";
        QTest::newRow("line with a control byte")
            << QByteArray("expect Vek,Orna,1,1.0\\x0d") << Lines{"Sent *idn?", "Vek,Orna,1,1.0\r"} << ""
            << "";
        QTest::newRow("NAK is a line, not an error") << QByteArray("expect Received NAK") << naked << ""
                                                     << "";
        QTest::newRow("pattern searches") << QByteArray("expect /ACK/") << acked << ""
                                          << "";
        QTest::newRow("pattern anchored") << QByteArray("expect /^ACK/") << Lines{} << ""
                                          << "expected: expect /^ACK/\nobserved: no lines\nobserved: no error\n";
        QTest::newRow("pattern, byte above 127") << QByteArray("expect /\\xb0C$/")
                                                 << Lines{"25\xb0"
                                                          "C"}
                                                 << ""
                                                 << "";
        QTest::newRow("every expectation must pass")
            << QByteArray("expect Received NAK\nexpect /21/\nexpect Received  ACK") << naked << ""
            << "expected: expect Received  ACK\nobserved: line Received Characters:  21\\x20\n"
               "observed: line Received NAK\nobserved: no error\n";
        QTest::newRow("error, exact") << QByteArray("expect-error Prompt not found.") << Lines{"Sent x"}
                                      << "Prompt not found."
                                      << "";
        QTest::newRow("error, exact, not a part")
            << QByteArray("expect-error Prompt") << Lines{"Sent x"} << "Prompt not found."
            << "expected: expect-error Prompt\nobserved: line Sent x\nobserved: error Prompt not found.\n";
        QTest::newRow("error of two lines") << QByteArray("expect-error a\\x0ab") << Lines{} << "a\nb"
                                            << "";
        QTest::newRow("error, pattern searches") << QByteArray("expect-error /timeout/") << Lines{} << timeout << "";
        QTest::newRow("error expected, none shown")
            << QByteArray("expect-error /timeout/") << acked << ""
            << "expected: expect-error /timeout/\nobserved: line Received Characters:  6\\x20\n"
               "observed: line Received  ACK\nobserved: no error\n";
        QTest::newRow("no error expected, one shown")
            << QByteArray("expect No response\nexpect-error none") << Lines{"No response"} << timeout
            << "expected: expect-error none\nobserved: line No response\nobserved: error " + timeout + "\n";
        QTest::newRow("line met, but an error shown")
            << QByteArray("expect No response") << Lines{"No response"} << timeout
            << "expected: expect-error none\nobserved: line No response\nobserved: error " + timeout + "\n";
    }
    void judge()
    {
        QFETCH(QByteArray, expectations);
        QFETCH(Lines, lines);
        QFETCH(QString, error);
        QFETCH(QString, details);
        const Plan plan = parsed("send x\n" + expectations);
        QCOMPARE(plan.steps.size(), 1);
        const StepVerdict v = judgeStep(plan.steps[0].expectations, lines, error);
        QCOMPARE(v.passed, details.isEmpty());
        QCOMPARE(v.details(), details);
    }

    void shape_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("other"); // the same shape, other numbers
        QTest::addColumn<QByteArray>("wrong"); // another shape
        QTest::newRow("poll data block") << QByteArray("Received STX 69.8<cr> ETX")
                                         << "^Received STX -?[0-9]+(\\.[0-9]+)?<cr> ETX$"
                                         << QByteArray("Received STX -102<cr> ETX")
                                         << QByteArray("Received STX 69.8 ETX");
        QTest::newRow("SCPI reply with CR")
            << QByteArray("Vek,Orna,1,1.0\r") << "^Vek,Orna,-?[0-9]+(\\.[0-9]+)?,-?[0-9]+(\\.[0-9]+)?\\x0d$"
            << QByteArray("Vek,Orna,22,3.15\r") << QByteArray("Vek,Orna,1,1.0");
        QTest::newRow("sign and exponent")
            << QByteArray("SP1 = +2.5E+01 (x)") << "^SP1 = [-+]?[0-9]+(\\.[0-9]+)?([eE][-+]?[0-9]+)? \\(x\\)$"
            << QByteArray("SP1 = -7 (x)") << QByteArray("SP2 = 5 (x)");
        QTest::newRow("a negative reading alone")
            << QByteArray("-5") << "^-?[0-9]+(\\.[0-9]+)?$" << QByteArray("7") << QByteArray("-5 x");
        QTest::newRow("digits in words stay")
            << QByteArray("X3.28 a.5") << "^X3\\.28 a\\.5$" << QByteArray("X3.28 a.5") << QByteArray("X3.29 a.5");
        QTest::newRow("pattern characters")
            << QByteArray("[a]*?|^$ {b}+\\/") << "^\\[a\\]\\*\\?\\|\\^\\$ \\{b\\}\\+\\\\/$"
            << QByteArray("[a]*?|^$ {b}+\\/") << QByteArray("a");
    }
    void shape()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, pattern);
        QFETCH(QByteArray, other);
        QFETCH(QByteArray, wrong);
        QCOMPARE(shapePattern(line), pattern);
        // As the recorder writes it into a plan, and as the run judges it.
        const Plan plan = parsed("query C1\n# C1 is a reading\n" + writeExpectation(shapeExpectation(line)).toUtf8());
        QCOMPARE(plan.steps.size(), 1);
        const QList<Expectation> &expect = plan.steps[0].expectations;
        QVERIFY(judgeStep(expect, {"Sent C1", line}, {}).passed);
        QVERIFY(judgeStep(expect, {other}, {}).passed);
        QVERIFY(!judgeStep(expect, {wrong}, {}).passed);
    }

    // A plan run on the session: each step the operation a user starts, its
    // outcome (P passed, F failed, E error, N not run) by what it produced.
    // A refused port or a lost line ends the run; so do a stop and a
    // failure with stop-on-failure.
    void run_data()
    {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<QString>("how"); // "", "stop-on-failure", "stop at 2", "refuse open", "drop at query"
        const QByteArray every = "open COM1 9600 8N1\n"
                                 "send *idn?\nexpect /^Vek,/\n"
                                 "query C1\nexpect-error Unknown mode error, cmdMode$ = SCPI\n"
                                 "load-table ezzone\nexpect Commands loaded\n"
                                 "read-table\nexpect ANSI Command Table\n"
                                 "send SYST:LANG X3.28\nexpect Sent SYST:LANG X3.28\n"
                                 "address 1\nexpect Device address set to 1\n"
                                 "nak on\ncount on\n"
                                 "query C1\nexpect Sent NAK\nexpect /^Received STX -?[0-9.]+<cr> ETX$/\n"
                                 "send SP1 100\nexpect Received ACK\n"
                                 "disconnect\nexpect Sent <DLE> <ENQ>\n"
                                 "send @@@\nsend SYST:LANG XonXoff\nxonxoff\nsend SP1 100\nquery C1\n"
                                 "scpi\nexpect SCPI commands enabled\n"
                                 "repeat 2\npause 1\nend\n";
        QTest::newRow("every step kind") << every << QString(20, QLatin1Char('P')) << "";
        const QByteArray three = "open COM1\nsend *idn?\nexpect nothing like this\nsend *idn?\nsend *cls\n";
        QTest::newRow("a failed step") << three << "PFPP" << "";
        QTest::newRow("stop on failure") << three << "PFNN" << "stop-on-failure";
        QTest::newRow("stopped") << three << "PFNN" << "stop at 2";
        QTest::newRow("a port that will not open") << three << "ENNN" << "refuse open";
        QTest::newRow("the line lost") << QByteArray("open COM1\nsend SYST:LANG X3.28\naddress 1\nquery C1\nsend SP1 1\n")
                                       << "PPPEN" << "drop at query";
    }
    void run()
    {
        QFETCH(QByteArray, plan);
        QFETCH(QString, outcomes);
        QFETCH(QString, how);
        QList<PlanError> errors;
        const Plan parsed = parsePlan(plan, "run.plan", &errors);
        QVERIFY(errors.isEmpty());
        SimSessionHarness h;
        std::unique_ptr<SessionHarness> scripted; // a port that will not open
        SessionHarness *bench = &h;
        if (how == "refuse open") {
            scripted = std::make_unique<SessionHarness>();
            scripted->port->failOpen = true;
            bench = scripted.get();
        }
        PlanRunner::Options options;
        options.stopOnFailure = how == "stop-on-failure";
        PlanRunner runner(*bench->s, parsed, options);
        QString seen;
        QObject::connect(&runner, &PlanRunner::stepStarted, [&](const StepResult &r) {
            if (how == "stop at 2" && r.line == 2)
                runner.stop();
            if (how == "drop at query" && r.line == 4) {
                SimFaults f;
                f.drop = SimTrigger::once();
                h.engine().setFaults(f);
            }
        });
        QObject::connect(&runner, &PlanRunner::stepFinished, [&](const StepResult &r) {
            seen += QString("PFEN").at(int(r.outcome));
            if (r.outcome == StepResult::Failed)
                QVERIFY2(!r.verdict.details().isEmpty(), qPrintable(r.name));
        });
        QSignalSpy done(&runner, &PlanRunner::finished);
        QVERIFY(runner.start());
        QVERIFY(done.wait(20000) || done.size() == 1);
        QCOMPARE(seen, outcomes);
        const RunSummary s = runner.summary();
        QCOMPARE(s.portRefused, how == "refuse open");
        QCOMPARE(s.lineLost, how == "drop at query");
        QCOMPARE(s.interrupted, how == "stop at 2");
        QCOMPARE(s.allPassed(), !outcomes.contains('F') && !outcomes.contains('E') && !outcomes.contains('N'));
        // The line is the user's again: an operation runs.
        QVERIFY(!bench->s->busy());
        QVERIFY(bench->s->scpi() || !bench->s->port().PortOpen());
    }

    void junit()
    {
        JUnitSuite smoke{"ezzone-smoke", QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), 1.25, {}, {}};
        smoke.cases << JUnitCase{"line 1: open simulator", "ezzone-smoke", 0.0104, JUnitCase::Passed, {}, {}}
                    << JUnitCase{"line 4 #2: query C1",
                                 "ezzone-smoke",
                                 0.5,
                                 JUnitCase::Failed,
                                 "expected expect Received\x02",
                                 "expected: expect Received\\x02\nobserved: no lines\n"}
                    << JUnitCase{"line 5: send SP1 100", "ezzone-smoke", 3, JUnitCase::Error, "line lost", "gone"}
                    << JUnitCase{"line 6: scpi", "ezzone-smoke", 0, JUnitCase::Skipped, "not run", {}};
        JUnitSuite xon{"xonxoff", QDateTime(QDate(2024, 5, 6), QTime(7, 8, 11)), 0.5, {}, "Sent \x13 <Xoff>\r\n"};
        xon.cases << JUnitCase{"line 1: xonxoff", "xonxoff", 0.5, JUnitCase::Passed, {}, {}};

        QBuffer buffer;
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(writeJUnit(&buffer, {smoke, xon}));

        // What a CI server reads.
        QStringList read;
        QXmlStreamReader xml(buffer.data());
        auto attrs = [&xml](const QStringList &names) {
            QStringList out;
            for (const QString &n : names)
                out << n + '=' + xml.attributes().value(n).toString();
            return out.join(' ');
        };
        int depth = 0; // every test case stands right in its suite
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::EndElement)
                --depth;
            if (token != QXmlStreamReader::StartElement)
                continue;
            ++depth;
            const QString name = xml.name().toString();
            if (name == "testcase")
                QCOMPARE(depth, 3);
            if (name == "failure" || name == "error" || name == "system-out")
                --depth; // its text is read whole, its end with it
            if (name == "testsuites")
                read << name + ' ' + attrs({"tests", "failures", "errors", "skipped", "time"});
            else if (name == "testsuite")
                read << name + ' ' + attrs({"name", "tests", "failures", "errors", "skipped", "time", "timestamp"});
            else if (name == "testcase")
                read << name + ' ' + attrs({"name", "classname", "time"});
            else if (name == "failure" || name == "error") {
                const QString head = name + ' ' + attrs({"message", "type"});
                read << head + " text=" + xml.readElementText();
            } else if (name == "skipped")
                read << name + ' ' + attrs({"message"});
            else if (name == "system-out")
                read << name + " text=" + xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(read.join('\n'), QString("testsuites tests=5 failures=1 errors=1 skipped=1 time=1.750\n"
                                          "testsuite name=ezzone-smoke tests=4 failures=1 errors=1 skipped=1 "
                                          "time=1.250 timestamp=2024-05-06T07:08:09\n"
                                          "testcase name=line 1: open simulator classname=ezzone-smoke time=0.010\n"
                                          "testcase name=line 4 #2: query C1 classname=ezzone-smoke time=0.500\n"
                                          "failure message=expected expect Received\\x02 type=expectation "
                                          "text=expected: expect Received\\x02\nobserved: no lines\n\n"
                                          "testcase name=line 5: send SP1 100 classname=ezzone-smoke time=3.000\n"
                                          "error message=line lost type=error text=gone\n"
                                          "testcase name=line 6: scpi classname=ezzone-smoke time=0.000\n"
                                          "skipped message=not run\n"
                                          "testsuite name=xonxoff tests=1 failures=0 errors=0 skipped=0 "
                                          "time=0.500 timestamp=2024-05-06T07:08:11\n"
                                          "testcase name=line 1: xonxoff classname=xonxoff time=0.500\n"
                                          "system-out text=Sent \\x13 <Xoff>\n"));

        QTemporaryDir dir;
        QString error;
        QVERIFY(writeJUnitFile(dir.filePath("report.xml"), {xon}, &error));
        QVERIFY(QFile::exists(dir.filePath("report.xml")));
        QVERIFY(!writeJUnitFile(dir.filePath("no/such/dir/report.xml"), {xon}, &error));
        QVERIFY2(error.startsWith(dir.filePath("no/such/dir/report.xml") + ": cannot write: "), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
