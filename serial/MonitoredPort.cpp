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
    connect(m_line, &PortObject::inputArrived, this, &MonitoredPort::onInputArrived);
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
                              .toUtf8(),
                          characterNs);
        emit lineOpened();
    } else if (!open && wasOpen) {
        m_monitor->closed();
        emit lineClosed();
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
    // One read takes what the driver hands over at once; it may hold more
    // (a pseudo-terminal moves its input on in portions). Reads go on until
    // one finds nothing, bounded against a far end that writes faster than
    // they go; what is left then is flushed.
    static constexpr qint64 kDrainBound = 16LL * 1024 * 1024;
    qint64 taken = 0;
    while (m_line->PortOpen() && taken <= kDrainBound) {
        const QByteArray in = read(true);
        if (in.isEmpty())
            break;
        taken += in.size();
    }
    if (m_line->PortOpen())
        m_line->flushInput();
}

void MonitoredPort::onInputArrived()
{
    // A wait reads its own input; a read in progress gets this input too.
    if (m_waiting || m_reading || !m_line->PortOpen())
        return;
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
    m_monitor->lost(reason.toUtf8());
    emit portLost(reason);
}
