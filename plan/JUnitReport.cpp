// SPDX-License-Identifier: MIT
#include "plan/JUnitReport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

QString xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xfffe || u == 0xffff)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString seconds(double s) { return QString::number(s, 'f', 3); }

struct Totals
{
    int tests = 0;
    int failures = 0;
    int errors = 0;
    int skipped = 0;
    double seconds = 0;

    void add(const JUnitCase &c)
    {
        ++tests;
        failures += c.outcome == JUnitCase::Failed ? 1 : 0;
        errors += c.outcome == JUnitCase::Error ? 1 : 0;
        skipped += c.outcome == JUnitCase::Skipped ? 1 : 0;
    }
    void write(QXmlStreamWriter &xml) const
    {
        xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        xml.writeAttribute(QStringLiteral("time"), ::seconds(seconds));
    }
};

void writeCase(QXmlStreamWriter &xml, const JUnitCase &c)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), xmlSafe(c.name));
    xml.writeAttribute(QStringLiteral("classname"), xmlSafe(c.className));
    xml.writeAttribute(QStringLiteral("time"), seconds(c.seconds));
    if (c.outcome == JUnitCase::Failed || c.outcome == JUnitCase::Error) {
        const bool failed = c.outcome == JUnitCase::Failed;
        xml.writeStartElement(failed ? QStringLiteral("failure") : QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("message"), xmlSafe(c.message));
        xml.writeAttribute(QStringLiteral("type"), failed ? QStringLiteral("expectation") : QStringLiteral("error"));
        xml.writeCharacters(xmlSafe(c.details));
        xml.writeEndElement();
    } else if (c.outcome == JUnitCase::Skipped) {
        xml.writeStartElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), xmlSafe(c.message));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

} // namespace

bool writeJUnit(QIODevice *device, const QList<JUnitSuite> &suites)
{
    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    Totals all;
    for (const JUnitSuite &suite : suites) {
        for (const JUnitCase &c : suite.cases)
            all.add(c);
        all.seconds += suite.seconds;
    }
    all.write(xml);
    for (const JUnitSuite &suite : suites) {
        Totals totals;
        for (const JUnitCase &c : suite.cases)
            totals.add(c);
        totals.seconds = suite.seconds;
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), xmlSafe(suite.name));
        totals.write(xml);
        xml.writeAttribute(QStringLiteral("timestamp"),
                           suite.timestamp.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
        for (const JUnitCase &c : suite.cases)
            writeCase(xml, c);
        if (!suite.systemOut.isEmpty())
            xml.writeTextElement(QStringLiteral("system-out"), xmlSafe(suite.systemOut));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

bool writeJUnitFile(const QString &path, const QList<JUnitSuite> &suites, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && writeJUnit(&file, suites) && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("%1: cannot write: %2").arg(path, file.errorString());
    return false;
}
