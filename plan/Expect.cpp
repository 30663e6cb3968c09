// SPDX-License-Identifier: MIT
#include "plan/Expect.h"

#include "plan/PlanWriter.h"

#include <algorithm>

bool Expectation::matches(const QList<QByteArray> &lines, const QString &error) const
{
    switch (kind) {
    case Line:
        return lines.contains(text);
    case LineMatch:
        return std::any_of(lines.cbegin(), lines.cend(),
                           [this](const QByteArray &l) { return pattern.match(QString::fromLatin1(l)).hasMatch(); });
    case Error:
        return !error.isEmpty() && error == QString::fromLatin1(text);
    case ErrorMatch:
        return !error.isEmpty() && pattern.match(error).hasMatch();
    case NoError:
        break;
    }
    return error.isEmpty();
}

QString StepVerdict::message() const
{
    return expected.isEmpty() ? QString() : QStringLiteral("expected ") + expected.first();
}

QString StepVerdict::details() const
{
    QString out;
    for (const QString &e : expected)
        out += QStringLiteral("expected: ") + e + QLatin1Char('\n');
    for (const QString &o : observed)
        out += QStringLiteral("observed: ") + o + QLatin1Char('\n');
    return out;
}

StepVerdict judgeStep(const QList<Expectation> &expectations, const QList<QByteArray> &lines, const QString &error)
{
    StepVerdict v;
    bool errorJudged = false;
    for (const Expectation &e : expectations) {
        errorJudged = errorJudged || e.isError();
        if (!e.matches(lines, error))
            v.expected << writeExpectation(e);
    }
    if (!errorJudged && !error.isEmpty())
        v.expected << writeExpectation(Expectation{Expectation::NoError, {}, {}, 0});
    v.passed = v.expected.isEmpty();
    if (v.passed)
        return v;
    for (const QByteArray &l : lines)
        v.observed << QStringLiteral("line ") + escapeText(l);
    if (lines.isEmpty())
        v.observed << QStringLiteral("no lines");
    v.observed << (error.isEmpty() ? QStringLiteral("no error") : QStringLiteral("error ") + escapeText(error));
    return v;
}
