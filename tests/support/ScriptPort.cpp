// SPDX-License-Identifier: MIT
#include "support/ScriptPort.h"

#include "serial/LineSettings.h"

void ScriptPort::replyTo(int writeIndex, qint64 atPoll, const QByteArray &bytes)
{
    m_script.append({writeIndex, atPoll, bytes});
}

void ScriptPort::script(const QList<Reply> &replies)
{
    const int base = int(writes.size());
    for (const Reply &r : replies)
        replyTo(base + r.write, r.poll, r.bytes);
}

QByteArray ScriptPort::written() const
{
    QByteArray all;
    for (const QByteArray &w : writes)
        all += w;
    return all;
}

bool ScriptPort::Settings(const QString &settings)
{
    QString why;
    if (!parseLineSettings(settings, &why)) {
        m_error = why;
        return false;
    }
    m_settings = settings;
    return true;
}

bool ScriptPort::PortOpen(bool open)
{
    if (!open) {
        m_open = false;
        return true;
    }
    if (failOpen) {
        m_error = QStringLiteral("COM %1 (%2) could not be opened: %3").arg(m_commPort).arg(deviceName(), failReason);
        return false;
    }
    m_open = true;
    ++openCount;
    return true;
}

bool ScriptPort::Output(const QByteArray &data)
{
    if (loseOnWrite)
        loseLine(QStringLiteral("the far end hung up"));
    if (!m_open) {
        ++closedWrites;
        m_error = QStringLiteral("the port is closed");
        return false;
    }
    writes.append(data);
    m_pollsSinceWrite = 0;
    if (responder)
        responder(*this, data);
    return true;
}

QByteArray ScriptPort::Input()
{
    ++inputCalls;
    if (!m_open)
        return {};
    ++m_pollsSinceWrite;
    const int lastWrite = int(writes.size()) - 1;
    for (qsizetype i = 0; i < m_script.size();) {
        const Delivery &d = m_script[i];
        if (d.afterWrite == lastWrite && d.atPoll == m_pollsSinceWrite) {
            m_pending += d.bytes;
            m_script.removeAt(i);
        } else {
            ++i;
        }
    }
    QByteArray out = m_pending;
    m_pending.clear();
    if (loseOnRead)
        loseLine(QStringLiteral("the far end hung up"));
    return out;
}

void ScriptPort::loseLine(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    emit portLost(reason);
}
