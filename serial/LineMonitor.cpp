// SPDX-License-Identifier: MIT
#include "serial/LineMonitor.h"

#include "bytes/ControlNames.h"

#include <QDateTime>

#include <algorithm>

LineMonitor::LineMonitor(qsizetype capacity, qint64 byteBound)
    : m_capacity(std::max<qsizetype>(1, capacity))
    , m_byteBound(std::max<qint64>(1, byteBound))
{
}

void LineMonitor::opened(const QByteArray &description, qint64 characterNs)
{
    if (!m_recording)
        return;
    m_clock.start();
    m_everOpened = true;
    m_frameGapNs = std::max(kMinFrameGapNs, characterNs * 7 / 2);
    append(MonitorRecord::Open, description);
}

void LineMonitor::closed()
{
    if (m_recording)
        append(MonitorRecord::Close, {});
}

void LineMonitor::lost(const QByteArray &reason)
{
    if (m_recording)
        append(MonitorRecord::Lost, reason);
}

void LineMonitor::wrote(const QByteArray &bytes)
{
    if (m_recording && !bytes.isEmpty())
        append(MonitorRecord::Tx, bytes);
}

void LineMonitor::read(const QByteArray &bytes, bool discarded)
{
    if (!m_recording || bytes.isEmpty())
        return;
    const auto kind = discarded ? MonitorRecord::Drop : MonitorRecord::Rx;
    const qint64 t = now();
    if (m_frameOpen && m_size > 0 && t - m_frameLastNs <= m_frameGapNs) {
        MonitorRecord &last = m_ring[size_t((m_head + m_size - 1) % m_capacity)];
        if (last.kind == kind) {
            makeRoom(bytes.size());
            // makeRoom may have dropped it only if it was the last one held.
            if (m_size > 0 && &last == &m_ring[size_t((m_head + m_size - 1) % m_capacity)]) {
                last.bytes += bytes;
                m_bytes += bytes.size();
                m_frameLastNs = t;
                changed();
                return;
            }
        }
    }
    append(kind, bytes);
    m_frameOpen = true;
    m_frameLastNs = t;
}

void LineMonitor::note(MonitorRecord::Kind kind, const QByteArray &text)
{
    if (m_recording)
        append(kind, text);
}

MonitorRecord &LineMonitor::append(MonitorRecord::Kind kind, const QByteArray &bytes)
{
    m_frameOpen = false;
    makeRoom(bytes.size());
    if (m_size == m_capacity)
        dropOldest();
    const size_t at = size_t((m_head + m_size) % m_capacity);
    if (m_ring.size() <= at)
        m_ring.resize(at + 1);
    MonitorRecord &r = m_ring[at];
    r.seq = m_nextSeq++;
    r.lineNs = now();
    r.wallMs = QDateTime::currentMSecsSinceEpoch();
    r.kind = kind;
    // A copy of its own: sharing the caller's array would keep the whole of a
    // read buffer alive (kilobytes) for a few bytes, past the byte bound.
    r.bytes = QByteArray(bytes.constData(), bytes.size());
    m_bytes += bytes.size();
    ++m_size;
    changed();
    return r;
}

void LineMonitor::makeRoom(qint64 extraBytes)
{
    while (m_size > 0 && m_bytes + extraBytes > m_byteBound)
        dropOldest();
}

void LineMonitor::dropOldest()
{
    MonitorRecord &r = m_ring[size_t(m_head)];
    m_bytes -= r.bytes.size();
    r.bytes = QByteArray();
    m_head = (m_head + 1) % m_capacity;
    --m_size;
    ++m_pushedOut;
}

const MonitorRecord *LineMonitor::find(quint64 seq) const
{
    if (m_size == 0 || seq < firstSeq() || seq > lastSeq())
        return nullptr;
    return &m_ring[size_t((m_head + qsizetype(seq - firstSeq())) % m_capacity)];
}

quint64 LineMonitor::lastOpenSeq() const
{
    for (quint64 s = lastSeq(); s >= firstSeq() && s > 0; --s)
        if (find(s)->kind == MonitorRecord::Open)
            return s;
    return 0;
}

QString LineMonitor::hex(const QByteArray &bytes, qsizetype maxBytes)
{
    if (maxBytes <= 0 || bytes.size() <= maxBytes)
        return QString::fromLatin1(bytes.toHex(' ').toUpper());
    return QString::fromLatin1(bytes.left(maxBytes).toHex(' ').toUpper()) +
           QStringLiteral(" ...(+%1 bytes)").arg(bytes.size() - maxBytes);
}

QString LineMonitor::named(const QByteArray &bytes, qsizetype maxBytes)
{
    return nameBytes(bytes, maxBytes);
}

QString LineMonitor::text(const MonitorRecord &r, qsizetype maxBytes)
{
    if (!r.isUtf8Text())
        return named(r.bytes, maxBytes);
    // ASCII by the byte vocabulary; other characters as they are.
    const QString s = QString::fromUtf8(r.bytes);
    QString out;
    QByteArray run;
    for (const QChar c : s) {
        if (c.unicode() < 128) {
            run += char(c.unicode());
            continue;
        }
        out += named(run);
        run.clear();
        out += c;
    }
    return out + named(run);
}

QString LineMonitor::kindName(MonitorRecord::Kind kind)
{
    static const char *const names[MonitorRecord::KindCount] = {"TX",   "RX",   "DROP",  "OPEN",  "CLOSE",
                                                               "LOST", "SHOW", "LINE", "ERROR", "RESULT"};
    return QLatin1String(kind < MonitorRecord::KindCount ? names[kind] : "?");
}

QString LineMonitor::wallText(qint64 wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

QString LineMonitor::lineMsText(qint64 lineNs)
{
    return lineNs < 0 ? QStringLiteral("-") : QString::number(double(lineNs) / 1e6, 'f', 3);
}

QString LineMonitor::logLine(const MonitorRecord &r)
{
    const QChar tab(u'\t');
    return wallText(r.wallMs) + tab + lineMsText(r.lineNs) + tab + kindName(r.kind) + tab +
           (r.isBytes() ? hex(r.bytes) : QStringLiteral("-")) + tab + text(r);
}

QString LineMonitor::logHeader()
{
    const int offset = QDateTime::currentDateTime().offsetFromUtc() / 60;
    const QString zone = QStringLiteral("UTC%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("# OrnaSerTest session log, wall clock in local time (%1)\n"
                          "# wall clock\tms since the line opened\trecord\tbytes in hex\ttext\n")
        .arg(zone);
}
