// SPDX-License-Identifier: MIT
#pragma once
// What a plan expects of a step, and the judgement of a step that ran: the
// transcript lines it produced and the error it showed against the
// expectations written after it.

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

struct Expectation
{
    enum Kind {
        Line,       // expect LINE: that exact line is among the step's lines
        LineMatch,  // expect /REGEX/: a line contains a match (a search, like grep)
        Error,      // expect-error TEXT: the error text is exactly TEXT
        ErrorMatch, // expect-error /REGEX/: the error text contains a match
        NoError     // expect-error none: no error shown
    };
    Kind kind = Line;
    QByteArray text;            // Line, Error: the bytes, one per character (Latin-1)
    QRegularExpression pattern; // LineMatch, ErrorMatch
    int line = 0;               // its line in the plan file, from 1; 0 when made by the program

    bool isError() const { return kind == Error || kind == ErrorMatch || kind == NoError; }
    bool matches(const QList<QByteArray> &lines, const QString &error) const;
};

// The judgement of one step. A step passes when every expectation passes;
// a step with no expect-error expectation must also have shown no error
// (as if it said expect-error none).
struct StepVerdict
{
    bool passed = true;
    // Only for a failed step: the expectations that failed, as plan lines
    // (an implied "expect-error none" included), and what the step
    // produced, as plan text: "line " and each line (or "no lines"), then
    // "error " and the error text (or "no error").
    QStringList expected;
    QStringList observed;

    // One line: the first failed expectation ("expected expect Received ACK").
    QString message() const;
    // The expected and the observed lines, one a line, each with its label.
    QString details() const;
};

// Judges a step from the lines it produced and its error text (empty: none).
StepVerdict judgeStep(const QList<Expectation> &expectations, const QList<QByteArray> &lines, const QString &error);
