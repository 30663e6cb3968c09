// SPDX-License-Identifier: MIT
#pragma once
// SIGTERM, SIGINT and SIGHUP as a Qt signal: passed from the handler
// through a pipe to the event loop, so that the program ends its own way
// (the window as Exit does, a plan run after the exchange in progress) and
// its exit status tells the signal (128 + its number). A second signal ends
// the program at once, as without the handler.

#include <QObject>

class QSocketNotifier;

class ExitSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; one instance per program.
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;
    ExitSignals(const ExitSignals &) = delete;
    ExitSignals &operator=(const ExitSignals &) = delete;

    // The first signal received, or 0.
    int received() const { return m_received; }
    // The exit status for the program: 128 + the signal, or `normal`.
    int exitStatus(int normal) const { return m_received ? 128 + m_received : normal; }

signals:
    void exitRequested(int signo);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};

