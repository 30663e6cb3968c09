// SPDX-License-Identifier: MIT
#pragma once
// The window's port object: the line's own port object inside, with every
// write, every read, every input drain and the line's opening, closing and
// loss recorded in a LineMonitor on the way through. Nothing else changes:
// the same bytes, results and errors pass both ways, and a loss is passed on
// once, after the bytes read with it are recorded.
//
// Input that arrives while no reply wait reads the line is read at once and
// recorded as discarded, with the time it came: every exchange starts by
// throwing pending input away, so nothing is lost by it, a stray reply shows
// when it came, and a far end is never held back by a full buffer.

#include "serial/PortObject.h"

#include <memory>

class LineMonitor;

class MonitoredPort : public PortObject
{
    Q_OBJECT
public:
    // Takes `line` over (it becomes a child unless it has a parent).
    MonitoredPort(PortObject *line, std::shared_ptr<LineMonitor> monitor, QObject *parent = nullptr);

    PortObject &line() const { return *m_line; }
    LineMonitor &monitor() const { return *m_monitor; }
    // Reads everything pending and throws it away (recorded as discarded),
    // then empties the driver's input: the exchange that follows starts
    // from empty input.
    void drain();
    // A reply wait reads the line from now until the scope ends: input that
    // arrives meanwhile is the wait's, not discarded.
    class WaitScope
    {
    public:
        explicit WaitScope(MonitoredPort &port) : m_port(port), m_was(port.m_waiting) { port.m_waiting = true; }
        ~WaitScope() { m_port.m_waiting = m_was; }
        WaitScope(const WaitScope &) = delete;
        WaitScope &operator=(const WaitScope &) = delete;

    private:
        MonitoredPort &m_port;
        bool m_was;
    };

    void CommPort(int number) override { m_line->CommPort(number); }
    int CommPort() const override { return m_line->CommPort(); }
    bool Settings(const QString &settings) override { return m_line->Settings(settings); }
    QString Settings() const override { return m_line->Settings(); }
    void InputLen(int len) override { m_line->InputLen(len); }
    bool PortOpen() const override { return m_line->PortOpen(); }
    bool PortOpen(bool open) override;
    void RTSEnable(bool on) override { m_line->RTSEnable(on); }
    void DTREnable(bool on) override { m_line->DTREnable(on); }
    bool Output(const QByteArray &data) override;
    QByteArray Input() override;
    void flushInput() override { m_line->flushInput(); }
    QString errorText() const override { return m_line->errorText(); }
    qsizetype partlyWritten() const override { return m_line->partlyWritten(); }
    QString deviceName() const override { return m_line->deviceName(); }
    QString openNote() const override { return m_line->openNote(); }
    void waitForInput(int maxMicroseconds) override { m_line->waitForInput(maxMicroseconds); }
    bool waitMayBlock() const override { return m_line->waitMayBlock(); }
    void usePortMap(ComPortMap *map) override { m_line->usePortMap(map); }

signals:
    // The line opened (after the Open record).
    void lineOpened();
    // The line was closed (after the Close record); not emitted for a loss.
    void lineClosed();

private:
    QByteArray read(bool discarded);
    void onInputArrived();
    void onLost(const QString &reason);
    void reportLoss(const QString &reason);

    PortObject *m_line;
    std::shared_ptr<LineMonitor> m_monitor;
    bool m_reading = false;
    bool m_waiting = false;
    bool m_lossHeld = false;
    QString m_heldReason;
};
