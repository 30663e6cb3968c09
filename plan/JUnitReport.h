// SPDX-License-Identifier: MIT
#pragma once
// The report CI servers read: JUnit XML, one test suite per plan, one test
// case per step run (or not run).

#include <QDateTime>
#include <QList>
#include <QString>

class QIODevice;

struct JUnitCase
{
    enum Outcome { Passed, Failed, Error, Skipped };
    QString name;      // stable between runs: PlanItem::name()
    QString className; // stable too: the plan's name
    double seconds = 0;
    Outcome outcome = Passed;
    QString message; // Failed, Error, Skipped: one line
    QString details; // Failed, Error: the expected and the observed lines
};

struct JUnitSuite
{
    QString name;
    QDateTime timestamp; // when the plan started
    double seconds = 0;
    QList<JUnitCase> cases;
    QString systemOut; // written as <system-out> unless empty
};

// Writes <testsuites> with the suites and their totals. Characters XML
// cannot hold (control characters other than tab, line feed and carriage
// return) are written as \xHH. False when the device fails.
bool writeJUnit(QIODevice *device, const QList<JUnitSuite> &suites);
// The same into a file, replaced whole; false, with *error set, when it
// cannot be written.
bool writeJUnitFile(const QString &path, const QList<JUnitSuite> &suites, QString *error);
