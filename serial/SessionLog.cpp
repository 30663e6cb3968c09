// SPDX-License-Identifier: MIT
#include "serial/SessionLog.h"

#include "serial/LineMonitor.h"

#include <algorithm>

SessionLog::SessionLog(std::shared_ptr<LineMonitor> monitor) : m_monitor(std::move(monitor)) {}

SessionLog::~SessionLog()
{
    finish();
}

QString SessionLog::failure(const QFile &file)
{
    return QStringLiteral("Cannot write the log file %1: %2").arg(file.fileName(), file.errorString());
}

bool SessionLog::start(const QString &path, quint64 fromSeq)
{
    finish();
    m_error.clear();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = failure(m_file);
        return false;
    }
    m_next = std::max<quint64>(fromSeq, 1);
    if (m_file.write(LineMonitor::logHeader().toUtf8()) < 0) {
        m_error = failure(m_file);
        m_file.close();
        return false;
    }
    return flush();
}

bool SessionLog::flush()
{
    if (!m_file.isOpen())
        return m_error.isEmpty();
    // What is written is complete: bytes that come later start a new frame.
    m_monitor->endFrame();
    const QByteArray lines = linesFrom(*m_monitor, m_next);
    m_next = m_monitor->lastSeq() + 1;
    if ((!lines.isEmpty() && m_file.write(lines) != lines.size()) || !m_file.flush()) {
        m_error = failure(m_file);
        m_file.close();
        return false;
    }
    return true;
}

bool SessionLog::finish()
{
    if (!m_file.isOpen())
        return m_error.isEmpty();
    const bool ok = flush();
    m_file.close();
    return ok;
}

QByteArray SessionLog::linesFrom(const LineMonitor &monitor, quint64 from)
{
    QByteArray out;
    const quint64 last = monitor.lastSeq();
    if (from > last)
        return out;
    if (from < monitor.firstSeq()) {
        const quint64 missing = std::min(monitor.firstSeq(), last + 1) - from;
        out += QStringLiteral("# %1 records were pushed out of the monitor before they were written\n")
                   .arg(missing)
                   .toUtf8();
        from = monitor.firstSeq();
    }
    for (quint64 s = from; s <= last; ++s) {
        if (const MonitorRecord *r = monitor.find(s)) {
            out += LineMonitor::logLine(*r).toUtf8();
            out += '\n';
        }
    }
    return out;
}

bool SessionLog::save(const LineMonitor &monitor, const QString &path, QString *error)
{
    QFile file(path);
    const QByteArray text = LineMonitor::logHeader().toUtf8() + linesFrom(monitor, monitor.firstSeq());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush()) {
        if (error)
            *error = failure(file);
        return false;
    }
    file.close();
    return true;
}
