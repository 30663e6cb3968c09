// SPDX-License-Identifier: MIT
#pragma once
// The bench record: the line monitor (every byte both ways, the line's
// opening, closing and loss, what the screen said about it), how each send
// and query action ended, and the continuous log, a file per opening of
// the line written at the end of every operation and finished when the
// line closes.

#include "exchange/Exchange.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class LineMonitor;
class SessionLog;

class BenchRecord : public QObject
{
    Q_OBJECT
public:
    explicit BenchRecord(QObject *parent = nullptr);
    ~BenchRecord() override;

    std::shared_ptr<LineMonitor> monitorPtr() const { return m_monitor; }
    LineMonitor &monitor() const { return *m_monitor; }
    SessionLog &log() const { return *m_log; }

    // ---- What the screen said
    // A transcript text, line by line (lines separated by `lineBreak`).
    void noteTranscript(bool fresh, const QByteArray &text, const QByteArray &lineBreak);
    void noteError(const QString &message);

    // ---- Counting a send or query action: its steps say how it ended, its
    // writes and waits when it started and when its last awaited byte came.
    void beginTally();
    bool tallying() const { return m_tally.active; }
    // Around every write: its start (the first write's is when the action
    // started), then whether it went out.
    void tallyBeforeWrite();
    void tallyWrite(bool ok, bool portOpen);
    void tallyWait(bool ok);
    void tallyWaitFailed(ExchangeOutcome outcome);
    void tallySaid(ExchangeOutcome outcome) { m_tally.said = outcome; }
    void tallyHoldOff() { ++m_tally.holdOffs; }
    // Ends the count: the result is recorded ("send" or "query") and returned.
    ExchangeResult finishTally(const char *action);

    // ---- The continuous log
    // Logging into the folder from now on: an open line (COM `openPort`,
    // 0: none open) is logged from its opening as far as the monitor holds
    // it. False when the folder cannot be written (nothing is logged).
    bool startLogging(const QString &folder, int openPort);
    void stopLogging();
    QString folder() const { return m_folder; }
    // The line opened on COM `port`: a new file from its Open record.
    void lineOpened(int port);
    // Writes what came since the last flush; finishes the file.
    void flushLog();
    void finishLog();
    // What the status bar says of the log ("Logging to ..."), empty: nothing.
    QString logStatus() const;

    // A log saved once, of everything the monitor holds.
    bool saveLog(const QString &path, QString *error) const;

signals:
    // The log's file or folder changed (the status bar follows).
    void logChanged();
    // A log that cannot be written: said at once; continuous logging is off.
    void logFailed(const QString &message);

private:
    void startFile(quint64 fromSeq, int port);
    void failed();

    struct Tally
    {
        bool active = false;
        bool wrote = false;
        std::optional<ExchangeOutcome> said; // by the exchange's judgement
        std::optional<ExchangeOutcome> line; // by a failed write or wait
        int holdOffs = 0;
        qint64 firstWriteNs = -1;
        qint64 replyNs = -1; // the last wait's awaited byte; -1 when it got none
    };

    std::shared_ptr<LineMonitor> m_monitor;
    std::unique_ptr<SessionLog> m_log;
    QString m_folder; // continuous logging goes there; empty: off
    QElapsedTimer m_clock;
    Tally m_tally;
};
