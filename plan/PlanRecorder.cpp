// SPDX-License-Identifier: MIT
#include "plan/PlanRecorder.h"

#include "plan/PlanWriter.h"
#include "serial/ComPortMap.h"
#include "serial/LineMonitor.h"
#include "serial/LineSettings.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>

namespace {
bool carriesNumber(const QByteArray &line)
{
    return std::any_of(line.cbegin(), line.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether a line of the operation carries a reading that changes from run
// to run: a poll's data block and byte count, an Xon/Xoff query's reply, an
// SCPI query's reply line.
bool isReading(const BenchOperation &op, qsizetype index, const QByteArray &line)
{
    if (!carriesNumber(line) || index == 0)
        return false;
    if (op.kind == BenchOperation::Query && op.mode == "X3.28")
        return line.startsWith("Received STX ") || line.startsWith("Byte Count=");
    if (op.kind == BenchOperation::Query && op.mode == "XonXoff")
        return line.startsWith("Received Characters: ");
    return op.kind == BenchOperation::Send && op.mode == "SCPI" && op.text.contains('?');
}
} // namespace

PlanRecorder::PlanRecorder(BenchSession &session, QObject *parent) : QObject(parent), m_session(session)
{
    connect(&m_session, &BenchSession::operationEnded, this, &PlanRecorder::operationEnded);
}

void PlanRecorder::start()
{
    m_recording = true;
    m_steps = 0;
    m_lines = {writeComment(QStringLiteral(
                   "Recorded by OrnaSerTest on %1\n"
                   "Each step is an operation done by hand, followed by the transcript lines and the error it "
                   "produced.\nLines that carry a reading are patterns that let the numbers vary; tighten them as "
                   "you need.\nA pause stands where the line rested between two operations.")
                                   .arg(QDateTime::currentDateTime().toString(Qt::ISODate)))
                   .chopped(1)};
    m_sinceLast.invalidate();
}

void PlanRecorder::stop()
{
    m_recording = false;
}

void PlanRecorder::noteNak(bool on)
{
    if (m_recording)
        addStep(on ? QStringLiteral("nak on") : QStringLiteral("nak off"));
}

void PlanRecorder::noteCount(bool on)
{
    if (m_recording)
        addStep(on ? QStringLiteral("count on") : QStringLiteral("count off"));
}

QString PlanRecorder::planText() const
{
    return m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void PlanRecorder::addStep(const QString &line)
{
    // The line rested since the last step: a late prompt drained, a reply
    // that came after its wait thrown away; the replay gives them the time.
    if (m_sinceLast.isValid() && m_sinceLast.elapsed() >= kPauseMs)
        m_lines << QStringLiteral("pause %1").arg(kPauseMs);
    m_lines << line;
    ++m_steps;
    m_sinceLast.start();
}

QString PlanRecorder::openLine(const PortChoice &choice) const
{
    const auto settings = parseLineSettings(choice.settings);
    const QString format = settings ? QStringLiteral("%1%2%3")
                                          .arg(settings->dataBits)
                                          .arg(QLatin1Char(settings->parity))
                                          .arg(settings->stopBits)
                                    : QStringLiteral("8N1");
    // The device itself where the number was pointed at one: a number
    // means another device, or none, in the next session.
    const ComEntry entry = m_session.portMap().entry(choice.number);
    const QString port = entry.kind == ComEntry::Simulator ? QStringLiteral("simulator")
                         : entry.kind == ComEntry::Device && entry.path.startsWith(QLatin1Char('/')) && !entry.path.contains(QLatin1Char(' '))
                             ? entry.path
                             : QStringLiteral("COM%1").arg(choice.number);
    return QStringLiteral("open %1 %2 %3")
        .arg(port)
        .arg(settings ? settings->baud : 9600)
        .arg(format);
}

void PlanRecorder::operationEnded(const BenchOperation &op)
{
    if (!m_recording)
        return;
    switch (op.kind) {
    case BenchOperation::Open:
        if (op.choice.number == 0)
            return; // the dialog was left without a port: nothing to replay
        addStep(openLine(op.choice));
        break;
    case BenchOperation::Send: addStep(QStringLiteral("send ") + escapeText(op.text)); break;
    case BenchOperation::Query: addStep(QStringLiteral("query ") + escapeText(op.text)); break;
    case BenchOperation::Address: addStep(QStringLiteral("address ") + escapeText(op.text)); break;
    case BenchOperation::Scpi: addStep(QStringLiteral("scpi")); break;
    case BenchOperation::Disconnect: addStep(QStringLiteral("disconnect")); break;
    case BenchOperation::XonXoff: addStep(QStringLiteral("xonxoff")); break;
    case BenchOperation::LoadTable:
        if (!op.answered)
            return; // cancelled: nothing was sent
        addStep(op.ezZone ? QStringLiteral("load-table ezzone") : QStringLiteral("load-table f4"));
        break;
    case BenchOperation::ReadTable: addStep(QStringLiteral("read-table")); break;
    }
    m_lines.last() = m_lines.last().trimmed();

    // What the step produced, from the line monitor's record of it. A
    // table operation's own exchanges show what the converter's prompts
    // happened to do meanwhile; what it ends with is its result (the
    // listing, "Commands loaded"), and that is what is expected of it.
    const LineMonitor &monitor = m_session.lineMonitor();
    const bool tableOperation = op.kind == BenchOperation::LoadTable || op.kind == BenchOperation::ReadTable;
    QList<QByteArray> lines;
    QString error;
    for (quint64 seq = std::max(op.firstSeq, monitor.firstSeq()); seq <= op.lastSeq; ++seq) {
        const MonitorRecord *r = monitor.find(seq);
        if (r && r->kind == MonitorRecord::Show && tableOperation)
            lines.clear();
        if (r && (r->kind == MonitorRecord::Show || r->kind == MonitorRecord::Line))
            lines << r->bytes;
        else if (r && r->kind == MonitorRecord::Error)
            error = QString::fromUtf8(r->bytes);
    }
    // A query's wait ends with its reply line; whether the prompt came in
    // the same read is a matter of timing, so it is not expected.
    if (op.kind == BenchOperation::Send && op.mode == "SCPI" && op.text.contains('?'))
        lines.removeAll(QByteArray("Prompt received"));
    bool patterned = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        Expectation e;
        if (isReading(op, i, lines[i])) {
            e = shapeExpectation(lines[i]);
            patterned = true;
        } else {
            e.kind = Expectation::Line;
            e.text = lines[i];
        }
        m_lines << writeExpectation(e);
    }
    if (patterned)
        m_lines << writeComment(QStringLiteral("the numbers in the patterns above are readings: they may vary")).chopped(1);
    if (!error.isEmpty()) {
        Expectation e;
        // Texts are bytes; an error naming a path outside Latin-1 is matched
        // as it reads.
        const bool bytes = std::all_of(error.cbegin(), error.cend(), [](QChar c) { return c.unicode() < 256; });
        e.kind = bytes ? Expectation::Error : Expectation::ErrorMatch;
        e.text = error.toLatin1();
        e.pattern = QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(error) + QLatin1Char('$'));
        m_lines << writeExpectation(e);
    }
}
