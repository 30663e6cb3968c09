// SPDX-License-Identifier: MIT
#pragma once
// Runs a SimServer on a thread of its own, so the program (or a test) can
// open the simulated converter's device path from its own thread and block
// on it without starving the converter.
//
//   SimHost host(config);
//   connect(host.server(), &SimServer::frameLogged, ...);  // before start()
//   const QString path = host.start(&error);             // e.g. "/dev/pts/4"
//   host.server()->setFaults(faults);                     // any thread
//   host.stop();                                          // or destroy the host
//
// start(), stop() and the destructor belong to the thread that created the
// host and must not be called from the server's own thread.

#include "sim/server/SimServer.h"

#include <QObject>
#include <QString>

class QThread;

class SimHost : public QObject
{
    Q_OBJECT
public:
    explicit SimHost(const SimConfig &config = SimConfig(), QObject *parent = nullptr);
    ~SimHost() override;

    // Starts the thread if needed and serves a new pseudo-terminal there;
    // returns its path at once (empty on failure, with *error set). When
    // the host already serves, returns the present path. After the line was
    // dropped, start() serves a fresh converter on a new path.
    QString start(QString *error = nullptr);
    // Closes the line and ends the thread; start() may be called again.
    void stop();

    bool isServing() const;
    QString devicePath() const;
    // The server itself: use its thread-safe setters and its signals only.
    SimServer *server() const { return m_server; }

    // Shorthands for the server's thread-safe setters.
    void setFaults(const SimFaults &faults) { m_server->setFaults(faults); }
    void setTurnaroundMs(double ms) { m_server->setTurnaroundMs(ms); }

private:
    SimServer *m_server;
    QThread *m_thread;
};
