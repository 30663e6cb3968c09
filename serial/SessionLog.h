// SPDX-License-Identifier: MIT
#pragma once
// The session log: the line monitor's records as a text file, one record a
// line (LineMonitor::logLine), under a short header. A continuous log is
// written as the records come: the owner flushes it at the end of every
// exchange, so that a program that ends or a line that drops loses nothing
// written before. A one-off save writes every record the monitor holds.

#include <QFile>
#include <QString>

#include <memory>

class LineMonitor;

class SessionLog
{
public:
    explicit SessionLog(std::shared_ptr<LineMonitor> monitor);
    ~SessionLog();
    SessionLog(const SessionLog &) = delete;
    SessionLog &operator=(const SessionLog &) = delete;

    // Starts a new file at `path` holding the records from `fromSeq` on;
    // a file started before is finished first. False, and error() says
    // why, when the file cannot be written.
    bool start(const QString &path, quint64 fromSeq);
    bool active() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    // Writes the records that came since the last flush and hands them to
    // the system. False when writing failed (error() says why); the file is
    // closed then.
    bool flush();
    // flush(), then closes the file.
    bool finish();
    QString error() const { return m_error; }

    // Writes every record the monitor holds to `path` (replacing the file).
    static bool save(const LineMonitor &monitor, const QString &path, QString *error);

private:
    // The records from `from` to the last as log lines; notes records that
    // were pushed out of the ring before they could be written.
    static QByteArray linesFrom(const LineMonitor &monitor, quint64 from);
    static QString failure(const QFile &file);

    std::shared_ptr<LineMonitor> m_monitor;
    QFile m_file;
    quint64 m_next = 0; // the first record not yet written
    QString m_error;
};
