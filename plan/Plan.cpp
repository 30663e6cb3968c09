// SPDX-License-Identifier: MIT
#include "plan/Plan.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <climits>

namespace {

struct Syntax
{
    const char *keyword;
    PlanStep::Kind kind;
    int minArgs;
    int maxArgs; // -1: the rest of the line is one text, possibly empty
    const char *usage;
};

// Expectations are not steps; they have their own entries below.
const Syntax kSteps[] = {
    {"open", PlanStep::Open, 1, 3, "open PORT [BAUD] [FORMAT]"},
    {"send", PlanStep::Send, 0, -1, "send [TEXT]"},
    {"query", PlanStep::Query, 0, -1, "query [TEXT]"},
    {"address", PlanStep::Address, 0, -1, "address [TEXT]"},
    {"scpi", PlanStep::Scpi, 0, 0, "scpi"},
    {"disconnect", PlanStep::Disconnect, 0, 0, "disconnect"},
    {"xonxoff", PlanStep::XonXoff, 0, 0, "xonxoff"},
    {"nak", PlanStep::Nak, 1, 1, "nak on|off"},
    {"count", PlanStep::Count, 1, 1, "count on|off"},
    {"load-table", PlanStep::LoadTable, 1, 1, "load-table ezzone|f4"},
    {"read-table", PlanStep::ReadTable, 0, 0, "read-table"},
    {"pause", PlanStep::Pause, 1, 1, "pause MS"},
    {"repeat", PlanStep::Repeat, 1, 1, "repeat N"},
    {"end", PlanStep::End, 0, 0, "end"},
};
const Syntax kExpect{"expect", PlanStep::Send, 1, -1, "expect LINE|/REGEX/"};
const Syntax kExpectError{"expect-error", PlanStep::Send, 1, -1, "expect-error TEXT|/REGEX/|none"};

constexpr int kMaxPause = 3600000;

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QStringView trimBlanks(QStringView s)
{
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && isBlank(s[from]))
        ++from;
    while (to > from && isBlank(s[to - 1]))
        --to;
    return s.mid(from, to - from);
}

QStringList splitBlanks(QStringView s)
{
    QStringList out;
    qsizetype i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i]))
            ++i;
        const qsizetype from = i;
        while (i < s.size() && !isBlank(s[i]))
            ++i;
        if (i > from)
            out << s.mid(from, i - from).toString();
    }
    return out;
}

bool allDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

bool isHex(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// A non-negative decimal number of digits only, within [low, high].
std::optional<int> number(const QString &text, int low, int high)
{
    if (!allDigits(text))
        return std::nullopt;
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high)
        return std::nullopt;
    return n;
}

// "/REGEX/": at least the two slashes.
bool isPattern(QStringView arg)
{
    return arg.size() >= 2 && arg.front() == QLatin1Char('/') && arg.back() == QLatin1Char('/');
}

QString quoted(const QString &s) { return QLatin1Char('\'') + s + QLatin1Char('\''); }

// Whether a character is one byte; at a character that is not, says so.
bool isByte(QStringView text, qsizetype i, QString *error)
{
    const QChar c = text[i];
    if (c.unicode() <= 0xff)
        return true;
    const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
    if (error)
        *error = QStringLiteral("character '%1' is not one byte: write the bytes you mean as \\xHH")
                     .arg(text.mid(i, pair ? 2 : 1).toString());
    return false;
}

// Whether every character of a text is one byte (Latin-1); says which is not.
bool checkLatin1(QStringView text, QString *error)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!isByte(text, i, error))
            return false;
    return true;
}

class Parser
{
public:
    Parser(const QString &fileName, QList<PlanError> *errors) : m_file(fileName), m_errors(errors)
    {
        m_plan.fileName = fileName;
    }

    void parseLine(int lineNo, const QByteArray &raw);
    Plan finish();

private:
    void fault(int line, const QString &message) { m_errors->append({m_file, line, message}); }
    void step(int lineNo, const Syntax &syntax, const QString &source, QStringView rest);
    void expectation(int lineNo, const Syntax &syntax, QStringView rest);
    bool openArgs(PlanStep &s, const QStringList &args, int lineNo);
    bool stepArgs(PlanStep &s, const QStringList &args, int lineNo, const QString &usage);

    QString m_file;
    QList<PlanError> *m_errors;
    Plan m_plan;
    // What the last step line was, for the expectations after it.
    enum Last { Nothing, Step, Faulty, RepeatLine, EndLine };
    Last m_last = Nothing;
    // Open repeats: their index in the steps (-1 for a faulty one) and line.
    QList<QPair<int, int>> m_open;
};

void Parser::parseLine(int lineNo, const QByteArray &raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(raw);
    if (utf8.hasError())
        return fault(lineNo, QStringLiteral("not valid UTF-8"));
    const QStringView line = trimBlanks(decoded);
    if (line.isEmpty() || line.front() == QLatin1Char('#'))
        return;

    qsizetype k = 0;
    while (k < line.size() && !isBlank(line[k]))
        ++k;
    const QString keyword = line.left(k).toString();
    const QStringView rest = trimBlanks(line.mid(k));

    if (keyword == QLatin1String(kExpect.keyword))
        return expectation(lineNo, kExpect, rest);
    if (keyword == QLatin1String(kExpectError.keyword))
        return expectation(lineNo, kExpectError, rest);
    for (const Syntax &syntax : kSteps)
        if (keyword == QLatin1String(syntax.keyword))
            return step(lineNo, syntax, line.toString(), rest);
    m_last = Faulty;
    fault(lineNo, QStringLiteral("unknown step ") + quoted(keyword));
}

void Parser::step(int lineNo, const Syntax &syntax, const QString &source, QStringView rest)
{
    const QString usage = QLatin1String(syntax.usage);
    PlanStep s;
    s.kind = syntax.kind;
    s.line = lineNo;
    s.source = source;
    const QStringList args = syntax.maxArgs < 0 ? QStringList() : splitBlanks(rest);

    bool ok = true;
    if (syntax.maxArgs < 0) {
        QString why;
        const std::optional<QByteArray> text = decodeText(rest, &why);
        if (text)
            s.text = *text;
        else
            fault(lineNo, why);
        ok = text.has_value();
    } else if (args.size() < syntax.minArgs) {
        fault(lineNo, QStringLiteral("missing argument: ") + usage);
        ok = false;
    } else if (args.size() > syntax.maxArgs) {
        fault(lineNo, QStringLiteral("extra argument %1: %2").arg(quoted(args[syntax.maxArgs]), usage));
        ok = false;
    } else {
        ok = stepArgs(s, args, lineNo, usage);
    }

    if (s.kind == PlanStep::Repeat) {
        m_open.append({ok ? int(m_plan.steps.size()) : -1, lineNo});
        m_last = RepeatLine;
        if (ok)
            m_plan.steps.append(s);
        return;
    }
    if (s.kind == PlanStep::End) {
        m_last = EndLine;
        if (m_open.isEmpty())
            return fault(lineNo, QStringLiteral("'end' without 'repeat'"));
        const int repeat = m_open.takeLast().first;
        if (repeat < 0 || !ok)
            return;
        s.partner = repeat;
        m_plan.steps[repeat].partner = int(m_plan.steps.size());
        m_plan.steps.append(s);
        return;
    }
    m_last = ok ? Step : Faulty;
    if (ok)
        m_plan.steps.append(s);
}

// The arguments of a step that takes values: checked, and into the step.
bool Parser::stepArgs(PlanStep &s, const QStringList &args, int lineNo, const QString &usage)
{
    bool ok = true;
    switch (s.kind) {
    case PlanStep::Open:
        return openArgs(s, args, lineNo);
    case PlanStep::Nak:
    case PlanStep::Count:
        ok = args[0] == QLatin1String("on") || args[0] == QLatin1String("off");
        s.on = args[0] == QLatin1String("on");
        if (!ok)
            fault(lineNo, QStringLiteral("bad value %1: %2").arg(quoted(args[0]), usage));
        break;
    case PlanStep::LoadTable:
        ok = args[0] == QLatin1String("ezzone") || args[0] == QLatin1String("f4");
        s.ezZone = args[0] == QLatin1String("ezzone");
        if (!ok)
            fault(lineNo, QStringLiteral("bad value %1: %2").arg(quoted(args[0]), usage));
        break;
    case PlanStep::Pause:
    case PlanStep::Repeat: {
        const bool pause = s.kind == PlanStep::Pause;
        const std::optional<int> n = pause ? number(args[0], 0, kMaxPause) : number(args[0], 1, INT_MAX);
        ok = n.has_value();
        s.number = n.value_or(0);
        if (!ok)
            fault(lineNo, QStringLiteral("bad number %1: %2")
                              .arg(quoted(args[0]), pause ? QStringLiteral("pause MS, 0 to 3600000")
                                                          : QStringLiteral("repeat N, 1 or more")));
        break;
    }
    default:
        break;
    }
    return ok;
}

bool Parser::openArgs(PlanStep &s, const QStringList &args, int lineNo)
{
    bool ok = true;
    const QString &port = args[0];
    s.port = port;
    if (!port.startsWith(QLatin1Char('/')) && port != QLatin1String("simulator") && s.comNumber() == 0) {
        fault(
            lineNo,
            QStringLiteral("bad port %1: COM1 to COM6, a device path starting with /, or simulator").arg(quoted(port)));
        ok = false;
    }
    // BAUD, then FORMAT; either may be left out, so a second word that is
    // not a number is taken for the format.
    qsizetype i = 1;
    if (i < args.size() && allDigits(args[i])) {
        const std::optional<int> baud = number(args[i], 0, INT_MAX);
        if (baud && (*baud == 1200 || *baud == 2400 || *baud == 9600 || *baud == 19200 || *baud == 38400)) {
            s.baud = *baud;
        } else {
            fault(lineNo, QStringLiteral("bad baud rate %1: 1200, 2400, 9600, 19200 or 38400").arg(quoted(args[i])));
            ok = false;
        }
        ++i;
    }
    if (i < args.size()) {
        if (args[i] == QLatin1String("8N1") || args[i] == QLatin1String("7E1") || args[i] == QLatin1String("7O1")) {
            s.format = args[i];
        } else {
            fault(lineNo, QStringLiteral("bad format %1: 8N1, 7E1 or 7O1").arg(quoted(args[i])));
            ok = false;
        }
        ++i;
    }
    if (i < args.size()) {
        fault(lineNo, QStringLiteral("extra argument %1: open PORT [BAUD] [FORMAT]").arg(quoted(args[i])));
        ok = false;
    }
    return ok;
}

void Parser::expectation(int lineNo, const Syntax &syntax, QStringView rest)
{
    const QString keyword = quoted(QLatin1String(syntax.keyword));
    const bool isError = &syntax == &kExpectError;
    Expectation e;
    e.line = lineNo;
    bool ok = true;
    if (rest.isEmpty()) {
        fault(lineNo, QStringLiteral("missing argument: ") + QLatin1String(syntax.usage));
        ok = false;
    } else if (isError && rest == QLatin1String("none")) {
        e.kind = Expectation::NoError;
    } else if (isPattern(rest)) {
        e.kind = isError ? Expectation::ErrorMatch : Expectation::LineMatch;
        const QStringView source = rest.mid(1, rest.size() - 2);
        QString why;
        // The expression keeps its own escapes (\xHH, \\ mean the same there).
        if (!checkLatin1(source, &why)) {
            fault(lineNo, why);
            ok = false;
        } else {
            e.pattern.setPattern(source.toString());
            if (!e.pattern.isValid()) {
                fault(lineNo, QStringLiteral("bad regular expression %1: %2 at offset %3")
                                  .arg(quoted(rest.toString()), e.pattern.errorString())
                                  .arg(e.pattern.patternErrorOffset()));
                ok = false;
            }
        }
    } else {
        e.kind = isError ? Expectation::Error : Expectation::Line;
        QString why;
        const std::optional<QByteArray> text = decodeText(rest, &why);
        if (text)
            e.text = *text;
        else
            fault(lineNo, why);
        ok = text.has_value();
    }

    switch (m_last) {
    case Nothing:
        return fault(lineNo, keyword + QStringLiteral(" before any step"));
    case RepeatLine:
        return fault(lineNo, keyword + QStringLiteral(" must follow a step, not 'repeat'"));
    case EndLine:
        return fault(lineNo, keyword + QStringLiteral(" must follow a step, not 'end'"));
    case Faulty:
        return;
    case Step:
        if (ok)
            m_plan.steps.last().expectations.append(e);
        return;
    }
}

Plan Parser::finish()
{
    for (const auto &open : std::as_const(m_open))
        fault(open.second, QStringLiteral("'repeat' without 'end'"));
    m_open.clear();
    const bool anyStep = std::any_of(m_plan.steps.cbegin(), m_plan.steps.cend(), [](const PlanStep &s) {
        return s.kind != PlanStep::Repeat && s.kind != PlanStep::End;
    });
    if (!anyStep && m_errors->isEmpty())
        fault(0, QStringLiteral("no steps"));
    std::stable_sort(m_errors->begin(), m_errors->end(),
                     [](const PlanError &a, const PlanError &b) { return a.line < b.line; });
    return std::move(m_plan);
}

} // namespace

QString PlanStep::keyword(Kind kind)
{
    for (const Syntax &syntax : kSteps)
        if (syntax.kind == kind)
            return QLatin1String(syntax.keyword);
    return {};
}

QString PlanStep::settings() const
{
    // "7E1" is written "E,7,1" after the rate, as the port dialog does.
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(format.mid(1, 1), format.left(1), format.mid(2, 1));
}

int PlanStep::comNumber() const
{
    if (port.size() == 4 && port.startsWith(QLatin1String("COM")) && port[3] >= QLatin1Char('1') &&
        port[3] <= QLatin1Char('6'))
        return port[3].unicode() - '0';
    return 0;
}

QString PlanError::text() const
{
    if (line > 0)
        return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(message);
    return QStringLiteral("%1: %2").arg(file, message);
}

std::optional<QByteArray> decodeText(QStringView text, QString *error)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\')) {
            const QStringView next = text.mid(i + 1, 1);
            if (next == QLatin1String("\\")) {
                out += '\\';
                ++i;
                continue;
            }
            const QStringView hex = text.mid(i + 2, 2);
            if (next == QLatin1String("x") && hex.size() == 2 && isHex(hex[0]) && isHex(hex[1])) {
                out += char(hex.toInt(nullptr, 16));
                i += 3;
                continue;
            }
            if (error)
                *error = QStringLiteral("bad escape '%1': write a byte as \\xHH, a backslash as \\\\")
                             .arg(text.mid(i, next == QLatin1String("x") ? 2 + hex.size() : 2).toString());
            return std::nullopt;
        }
        if (!isByte(text, i, error))
            return std::nullopt;
        out += char(c.unicode());
    }
    return out;
}

Plan parsePlan(const QByteArray &text, const QString &fileName, QList<PlanError> *errors)
{
    QList<PlanError> ignored;
    Parser parser(fileName, errors ? errors : &ignored);
    const QByteArray bom("\xef\xbb\xbf"); // a byte order mark, as some editors write
    const QList<QByteArray> lines = (text.startsWith(bom) ? text.mid(bom.size()) : text).split('\n');
    int lineNo = 0;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        parser.parseLine(++lineNo, line);
    }
    return parser.finish();
}

Plan readPlan(const QString &path, QList<PlanError> *errors)
{
    QFile file(path);
    QByteArray text;
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok) {
        text = file.readAll();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        if (errors)
            errors->append({path, 0, QStringLiteral("cannot read: ") + file.errorString()});
        Plan plan;
        plan.fileName = path;
        return plan;
    }
    return parsePlan(text, path, errors);
}

QString PlanItem::id() const
{
    QString out = QStringLiteral("line %1").arg(step->line);
    for (qsizetype i = 0; i < iterations.size(); ++i)
        out += (i == 0 ? QStringLiteral(" #") : QStringLiteral(".")) + QString::number(iterations[i]);
    return out;
}

QString PlanItem::name() const { return id() + QStringLiteral(": ") + step->source; }

std::optional<PlanItem> PlanCursor::next()
{
    const QList<PlanStep> &steps = m_plan.steps;
    while (m_pos < steps.size()) {
        const PlanStep &s = steps[m_pos];
        if (s.kind == PlanStep::Repeat) {
            // A body without a step would spin N times for nothing.
            const bool empty =
                std::all_of(steps.cbegin() + m_pos + 1, steps.cbegin() + s.partner,
                            [](const PlanStep &b) { return b.kind == PlanStep::Repeat || b.kind == PlanStep::End; });
            if (empty) {
                m_pos = s.partner + 1;
            } else {
                m_levels.append({m_pos, 1});
                ++m_pos;
            }
            continue;
        }
        if (s.kind == PlanStep::End) {
            Level &top = m_levels.last();
            if (top.iteration < steps[top.repeat].number) {
                ++top.iteration;
                m_pos = top.repeat + 1;
            } else {
                m_levels.removeLast();
                ++m_pos;
            }
            continue;
        }
        PlanItem item;
        item.step = &s;
        for (const Level &level : std::as_const(m_levels))
            item.iterations.append(level.iteration);
        ++m_pos;
        return item;
    }
    return std::nullopt;
}

QList<PlanItem> flattenPlan(const Plan &plan)
{
    QList<PlanItem> out;
    PlanCursor cursor(plan);
    while (std::optional<PlanItem> item = cursor.next())
        out.append(*item);
    return out;
}
