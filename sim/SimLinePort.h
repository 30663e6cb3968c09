// SPDX-License-Identifier: MIT
#pragma once
// The simulated converter in-process: a port object whose far end is the
// simulator engine on a virtual clock. No thread and no pseudo-terminal:
// every read moves the clock on by one poll's time, so a wait of N polls
// lasts N x kPollSeconds on the converter's clock however fast it runs, and
// a reply arrives at the poll its line time says. The same interface as the
// real port, with the converter's faults on its switches.

#include "serial/PortObject.h"
#include "sim/engine/OrnaEngine.h"

#include <QList>

class SimLinePort : public PortObject
{
    Q_OBJECT
public:
    // The converter's time that one read (one poll of a wait) stands for.
    static constexpr double kPollSeconds = 100e-6;

    explicit SimLinePort(const SimConfig &config = SimConfig(), QObject *parent = nullptr);

    OrnaEngine &engine() { return m_engine; }
    // Seconds on the converter's clock since the port object was made.
    double now() const { return m_now; }
    // Lets the converter's clock run while nothing reads: what it sends
    // meanwhile waits for the next read (and a line it drops is lost now).
    void idle(double seconds);
    // Every frame the converter logged, both ways, in order.
    const QList<SimFrame> &frames() const { return m_frames; }
    // What the host wrote, as the converter took it in.
    QByteArray hostBytes() const;

    void CommPort(int number) override { m_commPort = number; }
    int CommPort() const override { return m_commPort; }
    bool Settings(const QString &settings) override;
    QString Settings() const override { return m_settings; }
    void InputLen(int) override {}
    bool PortOpen() const override { return m_open; }
    bool PortOpen(bool open) override;
    void RTSEnable(bool) override {}
    void DTREnable(bool) override {}
    bool Output(const QByteArray &data) override;
    QByteArray Input() override;
    QString errorText() const override { return m_error; }
    QString deviceName() const override { return QStringLiteral("in-process simulator"); }

private:
    // Takes what is due by now into the pending bytes; false when the line dropped.
    bool takeDue();
    void hangUp();

    OrnaEngine m_engine;
    bool m_followBaud;           // the converter takes the rate the port is opened with
    double m_now = 0.0;
    double m_hostLineFree = 0.0; // when the host's last byte has left
    QByteArray m_pending;
    QList<SimFrame> m_frames;
    int m_commPort = 0;
    QString m_settings;
    QString m_error;
    bool m_open = false;
};
