// SPDX-License-Identifier: MIT
#include "sim/SimLinePort.h"

#include "serial/LineSettings.h"

#include <algorithm>

SimLinePort::SimLinePort(const SimConfig &config, QObject *parent)
    : PortObject(parent), m_engine(config, 0.0), m_followBaud(config.followPortBaud)
{
    m_engine.setFrameHook([this](const SimFrame &f) { m_frames.append(f); });
}

void SimLinePort::idle(double seconds)
{
    if (seconds > 0)
        m_now += seconds;
    if (m_open && !takeDue())
        hangUp();
}

QByteArray SimLinePort::hostBytes() const
{
    QByteArray all;
    for (const SimFrame &f : m_frames)
        if (f.kind == SimFrame::FromHost)
            all += f.bytes;
    return all;
}

bool SimLinePort::Settings(const QString &settings)
{
    const auto parsed = parseLineSettings(settings, &m_error);
    if (!parsed)
        return false;
    m_settings = settings;
    SimLineFormat line = m_engine.lineFormat();
    if (m_followBaud)
        line.baud = parsed->baud;
    line.dataBits = parsed->dataBits;
    line.parity = parsed->parity;
    line.stopBits = parsed->stopBits;
    m_engine.setLineFormat(line);
    return true;
}

bool SimLinePort::PortOpen(bool open)
{
    if (open && m_engine.lineDropped()) {
        m_error = QStringLiteral("the simulated converter has dropped the line");
        return false;
    }
    m_open = open;
    m_pending.clear();
    return true;
}

bool SimLinePort::Output(const QByteArray &data)
{
    if (!m_open) {
        m_error = QStringLiteral("the port is closed");
        return false;
    }
    // The bytes leave one after the other at the line rate; the converter
    // takes them in when the last one has arrived.
    const double start = std::max(m_now, m_hostLineFree);
    m_hostLineFree = start + double(data.size()) * m_engine.lineFormat().characterSeconds();
    m_engine.receive(data, m_hostLineFree);
    return true;
}

QByteArray SimLinePort::Input()
{
    if (!m_open)
        return {};
    m_now += kPollSeconds;
    const bool up = takeDue();
    QByteArray got = m_pending;
    m_pending.clear();
    if (!up)
        hangUp();
    return got;
}

bool SimLinePort::takeDue()
{
    for (const SimOut &out : m_engine.takeDue(m_now)) {
        if (out.hangUp)
            return false;
        m_pending += out.bytes;
    }
    return true;
}

void SimLinePort::hangUp()
{
    m_open = false;
    emit portLost(QStringLiteral("the simulated converter dropped the line"));
}
