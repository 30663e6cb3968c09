// SPDX-License-Identifier: MIT
#include "serial/SessionLog.h"

#include "serial/LineMonitor.h"
#include "serial/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

SessionLog::SessionLog(std::shared_ptr<LineMonitor> monitor) : m_monitor(std::move(monitor)) {}

SessionLog::~SessionLog()
{
    finish();
}

bool SessionLog::start(const QString &path, quint64 fromSeq)
{
    finish(fromSeq > 0 ? fromSeq - 1 : 0);
    m_error.clear();
    QString why;
    m_fd = SafeFile::createNew(path, &m_path, &why);
    if (m_fd < 0) {
        m_path = path;
        m_error = QStringLiteral("Cannot write the log file %1: %2").arg(path, why);
        return false;
    }
    m_next = std::max<quint64>(fromSeq, 1);
    m_firstSeq = m_next;
    m_firstWallMs = m_lastWallMs = -1;
    m_sinceSync.invalidate();
    m_unsynced = false;
    if (!SafeFile::writeAll(m_fd, LineMonitor::logHeader().toUtf8(), &why))
        return fail(why);
    return flush();
}

bool SessionLog::flush(quint64 through)
{
    if (m_fd < 0)
        return m_error.isEmpty();
    // What is written is complete: bytes that come later start a new frame.
    m_monitor->endFrame();
    const quint64 to = std::min(through, m_monitor->lastSeq());
    if (m_next <= to) {
        if (const MonitorRecord *r = m_monitor->find(std::max(m_next, m_monitor->firstSeq())); r && m_firstWallMs < 0)
            m_firstWallMs = r->wallMs;
        if (const MonitorRecord *r = m_monitor->find(to))
            m_lastWallMs = r->wallMs;
        const QByteArray lines = linesFrom(*m_monitor, m_next, to);
        m_next = to + 1;
        QString why;
        if (!SafeFile::writeAll(m_fd, lines, &why))
            return fail(why);
        m_unsynced = true;
    }
    if (fileGone()) {
        QString held = QStringLiteral("the records it held");
        if (m_firstWallMs >= 0)
            held += QStringLiteral(", from %1 to %2,").arg(LineMonitor::wallText(m_firstWallMs),
                                                            LineMonitor::wallText(m_lastWallMs));
        QString still;
        if (m_monitor->firstSeq() <= m_firstSeq)
            still = QStringLiteral("; the line monitor still holds them (Save Log writes them to a file)");
        m_error = QStringLiteral("The log file %1 was deleted or its folder removed: %2 are not kept on disk%3")
                      .arg(m_path, held, still);
        close();
        return false;
    }
    // Handed to the disk now, or within the interval when flushes come fast
    // (the owner flushes between exchanges too).
    if (m_unsynced && (!m_sinceSync.isValid() || m_sinceSync.elapsed() >= kSyncIntervalMs)) {
        if (::fdatasync(m_fd) != 0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        ++m_syncs;
        m_unsynced = false;
        m_sinceSync.start();
    }
    return true;
}

bool SessionLog::finish(quint64 through)
{
    if (m_fd < 0)
        return m_error.isEmpty();
    bool ok = flush(through);
    if (ok && m_unsynced) {
        if (::fdatasync(m_fd) != 0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        ++m_syncs;
    }
    close();
    return ok;
}

bool SessionLog::fileGone() const
{
    struct stat st{};
    return ::fstat(m_fd, &st) == 0 && st.st_nlink == 0;
}

bool SessionLog::fail(const QString &why)
{
    m_error = QStringLiteral("Cannot write the log file %1: %2").arg(m_path, why);
    close();
    return false;
}

void SessionLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_unsynced = false;
}

QByteArray SessionLog::linesFrom(const LineMonitor &monitor, quint64 from, quint64 to)
{
    QByteArray out;
    const quint64 last = std::min(to, monitor.lastSeq());
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
    // From the first record ever made: what the ring no longer holds is
    // said in a comment at the top.
    const QByteArray text = LineMonitor::logHeader().toUtf8() + linesFrom(monitor, 1, monitor.lastSeq());
    QString why;
    if (SafeFile::replace(path, text, &why))
        return true;
    if (error)
        *error = QStringLiteral("Cannot write the log file %1: %2").arg(path, why);
    return false;
}
