// SPDX-License-Identifier: MIT
#include "plan/PlanWriter.h"

#include <QStringList>

namespace {

QString hexByte(uint byte) { return QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0')); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// One byte as a literal in a regular expression.
QString literal(char c)
{
    const auto byte = static_cast<uchar>(c);
    if (byte < 0x20 || byte > 0x7e)
        return hexByte(byte);
    if (QByteArrayView("\\^$.|?*+()[]{}").contains(c))
        return QStringLiteral("\\") + QLatin1Char(c);
    return QString(QLatin1Char(c));
}

// Expectation text that would read as something else: "/.../" as a
// pattern, "none" as no error. Its first character is written as an escape.
QString guarded(const QString &escaped, bool error)
{
    const bool pattern =
        escaped.size() >= 2 && escaped.startsWith(QLatin1Char('/')) && escaped.endsWith(QLatin1Char('/'));
    if (pattern || (error && escaped == QLatin1String("none")))
        return hexByte(escaped[0].unicode()) + escaped.mid(1);
    return escaped;
}

} // namespace

QString escapeText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool edge = i == 0 || i == text.size() - 1;
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (c < 0x20 || (c >= 0x7f && c <= 0xff) || (c == ' ' && edge))
            out += hexByte(c);
        else
            out += text[i];
    }
    return out;
}

QString escapeText(const QByteArray &bytes) { return escapeText(QString::fromLatin1(bytes)); }

QString writeStep(const PlanStep &step)
{
    QString keyword = PlanStep::keyword(step.kind);
    switch (step.kind) {
    case PlanStep::Open:
        return QStringLiteral("open %1 %2 %3").arg(step.port).arg(step.baud).arg(step.format);
    case PlanStep::Send:
    case PlanStep::Query:
    case PlanStep::Address:
        return step.text.isEmpty() ? keyword : keyword + QLatin1Char(' ') + escapeText(step.text);
    case PlanStep::Nak:
    case PlanStep::Count:
        return keyword + (step.on ? QStringLiteral(" on") : QStringLiteral(" off"));
    case PlanStep::LoadTable:
        return keyword + (step.ezZone ? QStringLiteral(" ezzone") : QStringLiteral(" f4"));
    case PlanStep::Pause:
    case PlanStep::Repeat:
        return keyword + QLatin1Char(' ') + QString::number(step.number);
    case PlanStep::Scpi:
    case PlanStep::Disconnect:
    case PlanStep::XonXoff:
    case PlanStep::ReadTable:
    case PlanStep::End:
        break;
    }
    return keyword;
}

QString writeExpectation(const Expectation &e)
{
    switch (e.kind) {
    case Expectation::Line:
        // An empty line has no text to write: its pattern stands for it.
        if (e.text.isEmpty())
            return QStringLiteral("expect /^$/");
        return QStringLiteral("expect ") + guarded(escapeText(e.text), false);
    case Expectation::LineMatch:
        return QStringLiteral("expect /%1/").arg(e.pattern.pattern());
    case Expectation::Error:
        return QStringLiteral("expect-error ") + guarded(escapeText(e.text), true);
    case Expectation::ErrorMatch:
        return QStringLiteral("expect-error /%1/").arg(e.pattern.pattern());
    case Expectation::NoError:
        break;
    }
    return QStringLiteral("expect-error none");
}

QString writeComment(const QString &text)
{
    QString out;
    for (const QString &line : text.split(QLatin1Char('\n')))
        out += (line.isEmpty() ? QStringLiteral("#") : QStringLiteral("# ") + line) + QLatin1Char('\n');
    return out;
}

QString writePlan(const Plan &plan)
{
    QString out;
    int depth = 0;
    for (const PlanStep &step : plan.steps) {
        if (step.kind == PlanStep::End)
            --depth;
        const QString indent(4 * qMax(depth, 0), QLatin1Char(' '));
        out += indent + writeStep(step) + QLatin1Char('\n');
        for (const Expectation &e : step.expectations)
            out += indent + writeExpectation(e) + QLatin1Char('\n');
        if (step.kind == PlanStep::Repeat)
            ++depth;
    }
    return out;
}

QString shapePattern(const QByteArray &line)
{
    QString out = QStringLiteral("^");
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = line[i];
        const bool afterWord = i > 0 && (isWordChar(line[i - 1]) || line[i - 1] == '.');
        const bool sign = (c == '-' || c == '+') && i + 1 < n && isDigit(line[i + 1]);
        if (!afterWord && (isDigit(c) || sign)) {
            qsizetype j = sign ? i + 1 : i;
            while (j < n && isDigit(line[j]))
                ++j;
            if (j + 1 < n && line[j] == '.' && isDigit(line[j + 1])) {
                ++j;
                while (j < n && isDigit(line[j]))
                    ++j;
            }
            bool exponent = false;
            if (j < n && (line[j] == 'e' || line[j] == 'E')) {
                qsizetype k = j + 1;
                if (k < n && (line[k] == '-' || line[k] == '+'))
                    ++k;
                if (k < n && isDigit(line[k])) {
                    exponent = true;
                    j = k;
                    while (j < n && isDigit(line[j]))
                        ++j;
                }
            }
            out += c == '+' ? QStringLiteral("[-+]?") : QStringLiteral("-?");
            out += QStringLiteral("[0-9]+(\\.[0-9]+)?");
            if (exponent)
                out += QStringLiteral("([eE][-+]?[0-9]+)?");
            i = j;
        } else if (isWordChar(c)) {
            // A word is kept whole: the digits of SP1 or C1 name something.
            while (i < n && isWordChar(line[i]))
                out += QLatin1Char(line[i++]);
        } else {
            out += literal(c);
            ++i;
        }
    }
    return out + QLatin1Char('$');
}

Expectation shapeExpectation(const QByteArray &line)
{
    Expectation e;
    e.kind = Expectation::LineMatch;
    e.pattern.setPattern(shapePattern(line));
    return e;
}
