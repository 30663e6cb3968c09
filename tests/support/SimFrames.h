// SPDX-License-Identifier: MIT
// For the harnesses that run the simulated converter in-process: its frame
// log as orna-sim prints it, every byte the host sent, and a wait that runs
// the converter's clock.
#pragma once

#include "sim/SimLinePort.h"
#include "sim/engine/SimTypes.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <functional>

inline QString simLogText(const QList<SimFrame> &frames)
{
    QStringList lines;
    for (const SimFrame &f : frames)
        lines << f.toLogLine();
    return lines.join(QLatin1Char('\n'));
}

inline QByteArray simHostBytes(const QList<SimFrame> &frames)
{
    QByteArray all;
    for (const SimFrame &f : frames)
        if (f.kind == SimFrame::FromHost)
            all += f.bytes;
    return all;
}

// Waits until `cond` holds or `timeoutMs` passed. The converter's clock runs
// while nothing reads, at least as fast as the real one (the loop timer ticks
// in real time); what it sends waits for the next read.
inline bool simWaitUntil(SimLinePort &port, const std::function<bool()> &cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (qint64 ran = 0; !cond();) {
        if (t.elapsed() > timeoutMs)
            return cond();
        QTest::qWait(1);
        const qint64 now = t.elapsed();
        port.idle(double(std::max<qint64>(now - ran, 1)) / 1000.0);
        ran = now;
    }
    return true;
}
