// SPDX-License-Identifier: MIT
#pragma once
// Steps and expectations written as plan text, so that what is written
// parses back to the same steps and the same bytes (the recorder's half of
// the plan format).

#include "plan/Plan.h"

#include <QByteArray>
#include <QString>

// Bytes as a step's text: printable ASCII as it is, the backslash as \\,
// every other byte as \xHH, and a blank at either end as \x20 (the parser
// drops a line's outer blanks). Characters of a QString above 0xFF, which
// no plan text holds, are kept as they are (for showing error texts).
QString escapeText(QStringView text);
QString escapeText(const QByteArray &bytes);

// The line of a step: "send SP1 100", "open COM2 19200 7E1", "repeat 3".
QString writeStep(const PlanStep &step);
// The line of an expectation: "expect Received ACK", "expect-error none".
QString writeExpectation(const Expectation &expectation);
// "# text", a line for each line of the text.
QString writeComment(const QString &text);
// A whole plan: each step followed by its expectations, the body of a
// repeat indented; every line ends in a line feed.
QString writePlan(const Plan &plan);

// A pattern of a line that carries readings: the line as it is, anchored
// at both ends, with every number free to vary. "Received STX 69.8<cr> ETX"
// gives ^Received STX -?[0-9]+(\.[0-9]+)?<cr> ETX$. A number stands apart
// from a word: the 1 of SP1 stays. A plus sign or an exponent in the
// line's number is allowed for in its pattern.
QString shapePattern(const QByteArray &line);
// The same as an expectation: expect /PATTERN/.
Expectation shapeExpectation(const QByteArray &line);
