// SPDX-License-Identifier: MIT
#include "session/BenchRecord.h"

#include "loops/LoopStats.h"
#include "serial/LineMonitor.h"
#include "serial/SessionLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {
QString stamp(qint64 wallMs = QDateTime::currentMSecsSinceEpoch())
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
}
} // namespace

BenchRecord::BenchRecord(QObject *parent)
    : QObject(parent)
    , m_monitor(std::make_shared<LineMonitor>())
    , m_log(std::make_unique<SessionLog>(m_monitor))
{
    m_clock.start();
}

BenchRecord::~BenchRecord() = default;

void BenchRecord::noteTranscript(bool fresh, const QByteArray &text, const QByteArray &lineBreak)
{
    if (fresh && text.isEmpty())
        return; // emptied, not written
    // One record a line; only the first line of a fresh transcript starts it.
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = text.indexOf(lineBreak, from);
        m_monitor->note(fresh && from == 0 ? MonitorRecord::Show : MonitorRecord::Line,
                        end < 0 ? text.mid(from) : text.mid(from, end - from));
        if (end < 0)
            return;
        from = end + lineBreak.size();
    }
}

void BenchRecord::noteError(const QString &message)
{
    m_monitor->note(MonitorRecord::Error, message.toUtf8());
}

// ---- Counting the send and query actions

void BenchRecord::beginTally()
{
    m_tally = Tally();
    m_tally.active = true;
}

void BenchRecord::tallyBeforeWrite()
{
    if (m_tally.active && !m_tally.wrote)
        m_tally.firstWriteNs = m_clock.nsecsElapsed();
}

void BenchRecord::tallyWrite(bool ok, bool portOpen)
{
    if (!m_tally.active)
        return;
    m_tally.wrote = m_tally.wrote || ok;
    if (!ok)
        m_tally.line = portOpen ? ExchangeOutcome::NotSent : ExchangeOutcome::LineLost;
}

void BenchRecord::tallyWait(bool ok)
{
    if (m_tally.active)
        m_tally.replyNs = ok ? m_clock.nsecsElapsed() : -1;
}

void BenchRecord::tallyWaitFailed(ExchangeOutcome outcome)
{
    if (m_tally.active)
        m_tally.line = outcome;
}

ExchangeResult BenchRecord::finishTally(const char *action)
{
    ExchangeResult r;
    if (m_tally.line)
        r.outcome = *m_tally.line;
    else if (m_tally.said)
        r.outcome = *m_tally.said;
    else
        r.outcome = m_tally.wrote ? ExchangeOutcome::Ok : ExchangeOutcome::NotSent;
    r.holdOffs = m_tally.holdOffs;
    if (!m_tally.line && m_tally.replyNs >= 0 && m_tally.firstWriteNs >= 0)
        r.responseNs = m_tally.replyNs - m_tally.firstWriteNs;
    m_tally = Tally();
    m_monitor->note(MonitorRecord::Result, resultText(action, r).toUtf8());
    return r;
}

// ---- The continuous log

bool BenchRecord::startLogging(const QString &folder, int openPort)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isWritable())
        return false;
    m_folder = folder;
    // An open line is logged from its opening, as far as the monitor holds it.
    if (openPort > 0)
        startFile(m_monitor->lastOpenSeq() ? m_monitor->lastOpenSeq() : m_monitor->firstSeq(), openPort);
    emit logChanged();
    return true;
}

void BenchRecord::stopLogging()
{
    finishLog();
    m_folder.clear();
    emit logChanged();
}

void BenchRecord::lineOpened(int port)
{
    if (!m_folder.isEmpty())
        startFile(m_monitor->lastSeq(), port); // the Open record just made
}

void BenchRecord::startFile(quint64 fromSeq, int port)
{
    // Named after the line's opening, where the file starts.
    const MonitorRecord *open = m_monitor->find(fromSeq);
    const QString when = open && open->kind == MonitorRecord::Open ? stamp(open->wallMs) : stamp();
    const QString path = QDir(m_folder).filePath(QStringLiteral("ornasertest-%1-COM%2.log").arg(when).arg(port));
    if (!m_log->start(path, fromSeq))
        failed();
    emit logChanged();
}

void BenchRecord::flushLog()
{
    if (m_log->active() && !m_log->flush())
        failed();
}

void BenchRecord::finishLog()
{
    if (m_log->active() && !m_log->finish())
        failed();
    emit logChanged();
}

// A log that cannot be written is never lost in silence: the user is told
// at once, and continuous logging stops.
void BenchRecord::failed()
{
    m_folder.clear();
    emit logChanged();
    emit logFailed(m_log->error() + QStringLiteral(". Continuous logging is off."));
}

QString BenchRecord::logStatus() const
{
    if (m_log->active())
        return QStringLiteral("Logging to %1").arg(m_log->path());
    if (!m_folder.isEmpty())
        return QStringLiteral("Logging into %1 when the line opens").arg(m_folder);
    return {};
}

bool BenchRecord::saveLog(const QString &path, QString *error) const
{
    return SessionLog::save(*m_monitor, path, error);
}
