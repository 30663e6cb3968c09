// SPDX-License-Identifier: MIT
#pragma once
// The session log: the line monitor's records as a text file, one record a
// line (LineMonitor::logLine), under a short header. A continuous log is
// written as the records come: the owner flushes it at the end of every
// exchange, so that a program that ends or a line that drops loses nothing
// written before; what is written is handed to the disk at once, or within
// a second when exchanges follow each other faster. A one-off save writes
// every record the monitor holds.
//
// Files are created new, never through a link and never over a file that
// exists (SafeFile). A log file deleted while it is written (or its folder
// removed) is noticed at the next flush, which then fails and says which
// records are not kept.

#include <QElapsedTimer>
#include <QString>

#include <limits>
#include <memory>

class LineMonitor;

class SessionLog
{
public:
    // Handed to the disk at most this often while flushes come faster.
    static constexpr qint64 kSyncIntervalMs = 1000;

    explicit SessionLog(std::shared_ptr<LineMonitor> monitor);
    ~SessionLog();
    SessionLog(const SessionLog &) = delete;
    SessionLog &operator=(const SessionLog &) = delete;

    // Starts a new file at `path` (or, when that name is taken, at the next
    // free "name-2.log", "name-3.log" ...) holding the records from
    // `fromSeq` on; a file started before is finished first, with the
    // records before `fromSeq`. False, and error() says why, when the file
    // cannot be made or written.
    bool start(const QString &path, quint64 fromSeq);
    bool active() const { return m_fd >= 0; }
    // The file being written (or the last one).
    QString path() const { return m_path; }
    // Writes the records up to `through` (all by default) that came since
    // the last flush. False when writing failed or the file is gone
    // (error() says why); the file is closed then.
    bool flush(quint64 through = std::numeric_limits<quint64>::max());
    // flush(), the disk, then closes the file.
    bool finish(quint64 through = std::numeric_limits<quint64>::max());
    QString error() const { return m_error; }
    // How many times the file was handed to the disk.
    qint64 syncs() const { return m_syncs; }

    // Writes every record the monitor holds to `path`, replacing what had
    // that name (a link there is replaced, not followed). The file starts
    // with a comment when records were pushed out of the monitor before.
    static bool save(const LineMonitor &monitor, const QString &path, QString *error);

private:
    // The records from `from` to `to` as log lines; notes records that
    // were pushed out of the ring before they could be written.
    static QByteArray linesFrom(const LineMonitor &monitor, quint64 from, quint64 to);
    bool fail(const QString &why);
    // The file's last link is gone: its records are kept nowhere on disk.
    bool fileGone() const;
    void close();

    std::shared_ptr<LineMonitor> m_monitor;
    int m_fd = -1;
    QString m_path;
    quint64 m_next = 0;      // the first record not yet written
    quint64 m_firstSeq = 0;  // the first record of the file
    qint64 m_firstWallMs = -1;
    qint64 m_lastWallMs = -1;
    QString m_error;
    QElapsedTimer m_sinceSync;
    bool m_unsynced = false;
    qint64 m_syncs = 0;
};
