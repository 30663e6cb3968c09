// SPDX-License-Identifier: MIT
#pragma once
// Serves the stand-in Orna engine on a new pseudo-terminal. The program
// (or any serial tool) opens the slave side, whose path devicePath() gives,
// as if it were the converter's serial port.
//
// The server lives on one thread with an event loop (the thread that owns
// the object): start(), stop() and the signals belong to that thread. The
// setters marked thread-safe may be called from any thread; they take
// effect for the next message the converter answers.
//
// Line rate: replies are paced at the baud rate the program sets on the
// port (read back from the pseudo-terminal's settings whenever bytes
// arrive) unless followPortBaud is off; the character format cannot be
// read back (a pseudo-terminal keeps no parity or 7-bit framing) and comes
// from the configuration.

#include "sim/engine/OrnaEngine.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

class SimServer : public QObject
{
    Q_OBJECT
public:
    explicit SimServer(const SimConfig &config = SimConfig(), QObject *parent = nullptr);
    ~SimServer() override;

    // Opens a new pseudo-terminal (slave mode 0600) and serves a freshly
    // powered converter on it. Returns false with the reason in *error.
    bool start(QString *error = nullptr);
    // Closes the line without the lineDropped() signal.
    void stop();

    // Thread-safe.
    QString devicePath() const;
    bool isServing() const;
    void setFaults(const SimFaults &faults);
    // Restarts only the counters of switches that change (OrnaEngine::changeFaults).
    void changeFaults(const SimFaults &faults);
    SimFaults faults() const;
    void setTurnaroundMs(double ms);
    double turnaroundMs() const;
    void setBusyMs(double ms);
    void setLineFormat(const SimLineFormat &line);
    SimLineFormat lineFormat() const;
    // Drops the line now, as the drop fault would: the master side closes
    // and the program sees its device vanish.
    void dropLine();
    // Runs fn on the engine under the server's lock (inspect the table,
    // a controller...). fn must not call back into the server.
    void withEngine(const std::function<void(OrnaEngine &)> &fn);

signals:
    // Every frame in both directions and every note, on the server's thread.
    void frameLogged(const SimFrame &frame);
    // The line went down by the drop fault or dropLine(); the device path is gone.
    void lineDropped();

private:
    void onReadable();
    void onWritable();
    void pump();
    void hangUp(const QString &why);
    void closeLine();
    void queueWrite(const QByteArray &bytes);
    void flushWrites();
    void emitPending();
    double now() const;
    void followPortBaud(double t);

    mutable QMutex m_mutex; // guards m_config, m_engine, m_path, m_pendingFrames
    SimConfig m_config;
    std::unique_ptr<OrnaEngine> m_engine;
    QList<SimFrame> m_pendingFrames;
    QString m_path;

    QElapsedTimer m_clock;
    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the slave open so the master never sees a hang-up
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_timer;
    // What waits for the line at most, while the program does not read:
    // room for the longest reply the faults make (a babble stream of up to
    // 1,000,000 bytes, queued at once), and a bound all the same.
    static constexpr qsizetype kMaxUnsent = 2 * 1024 * 1024;
    QByteArray m_writeBuffer;
    qint64 m_unsentDropped = 0; // lost since the line last took bytes
};
