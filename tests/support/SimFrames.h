// SPDX-License-Identifier: MIT
// What the simulated converter's frame log says, for the harnesses that run
// it: the log as orna-sim prints it, and every byte the host sent.
#pragma once

#include "sim/engine/SimTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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
