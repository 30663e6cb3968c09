// SPDX-License-Identifier: MIT
#include "serial/MonitoredPort.h"

#include "serial/LineMonitor.h"
#include "serial/LineSettings.h"

MonitoredPort::MonitoredPort(PortObject *line, std::shared_ptr<LineMonitor> monitor, QObject *parent)
    : PortObject(parent)
    , m_line(line)
    , m_monitor(std::move(monitor))
{
    if (!m_line->parent())
        m_line->setParent(this);
    connect(m_line, &PortObject::portLost, this, &MonitoredPort::onLost);
}

bool MonitoredPort::PortOpen(bool open)
{
    const bool wasOpen = m_line->PortOpen();
    const bool ok = m_line->PortOpen(open);
    if (open && ok && !wasOpen) {
        const auto settings = parseLineSettings(m_line->Settings());
        const qint64 characterNs = settings ? qint64(1e9 * settings->bitsPerChar() / settings->baud) : 0;
        m_monitor->opened(QStringLiteral("COM %1 %2 %3")
                              .arg(m_line->CommPort())
                              .arg(m_line->deviceName(), m_line->Settings())
                              .toLatin1(),
                          characterNs);
        emit lineOpened();
    } else if (!open && wasOpen) {
        m_monitor->closed();
    }
    return ok;
}

bool MonitoredPort::Output(const QByteArray &data)
{
    // A refused write put on the line only what the driver took before it
    // refused the rest (mostly nothing): that part is recorded as sent.
    if (!m_line->Output(data)) {
        if (const qsizetype sent = m_line->partlyWritten(); sent > 0)
            m_monitor->wrote(data.left(sent));
        return false;
    }
    m_monitor->wrote(data);
    return true;
}

QByteArray MonitoredPort::Input()
{
    return read(false);
}

void MonitoredPort::drain()
{
    if (m_line->PortOpen())
        read(true);
}

QByteArray MonitoredPort::read(bool discarded)
{
    m_reading = true;
    QByteArray in = m_line->Input();
    m_reading = false;
    m_monitor->read(in, discarded);
    // A loss noticed by this read follows its last bytes.
    if (m_lossHeld) {
        m_lossHeld = false;
        reportLoss(m_heldReason);
    }
    return in;
}

void MonitoredPort::onLost(const QString &reason)
{
    if (m_reading) {
        m_lossHeld = true;
        m_heldReason = reason;
        return;
    }
    reportLoss(reason);
}

void MonitoredPort::reportLoss(const QString &reason)
{
    m_monitor->lost(reason.toLatin1());
    emit portLost(reason);
}
