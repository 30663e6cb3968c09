// SPDX-License-Identifier: MIT
#pragma once
// The window's port object: the line's own port object inside, with every
// write, every read, every input drain and the line's opening, closing and
// loss recorded in a LineMonitor on the way through. Nothing else changes:
// the same bytes, results and errors pass both ways, and a loss is passed on
// once, after the bytes read with it are recorded.

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
    // Reads everything pending and throws it away; recorded as discarded.
    void drain();

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
    QString errorText() const override { return m_line->errorText(); }
    qsizetype partlyWritten() const override { return m_line->partlyWritten(); }
    QString deviceName() const override { return m_line->deviceName(); }
    void waitForInput(int maxMicroseconds) override { m_line->waitForInput(maxMicroseconds); }
    bool waitMayBlock() const override { return m_line->waitMayBlock(); }
    void usePortMap(ComPortMap *map) override { m_line->usePortMap(map); }

signals:
    // The line opened (after the Open record).
    void lineOpened();

private:
    QByteArray read(bool discarded);
    void onLost(const QString &reason);
    void reportLoss(const QString &reason);

    PortObject *m_line;
    std::shared_ptr<LineMonitor> m_monitor;
    bool m_reading = false;
    bool m_lossHeld = false;
    QString m_heldReason;
};
