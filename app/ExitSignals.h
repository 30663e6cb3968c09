// SPDX-License-Identifier: MIT
#pragma once
// SIGTERM, SIGINT and SIGHUP end the program the way Exit does: the signal
// is passed from its handler through a pipe to the event loop, which runs
// the window's exit after the exchange in progress (a modal dialog or
// question is answered as by Escape first). The port is closed, the log
// finished, the device's lock released. A second signal ends the program
// at once, as without the handler.

#include <QObject>

class QSocketNotifier;
class frmMain;

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

// Ends the window the way its Exit button does when a signal comes.
void exitOnSignals(ExitSignals &source, frmMain &window);
