// SPDX-License-Identifier: MIT
#include "support/SimSessionHarness.h"

#include "support/SimFrames.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

SimConfig SimSessionHarness::fastConfig()
{
    SimConfig config;
    config.turnaroundMs = 0.0;
    // At the real 9600 baud the prompt leaves a character time after the LF,
    // and whether a wait sees it depends on when it polls.
    config.followPortBaud = false;
    config.line.baud = 1'000'000'000;
    return config;
}

QString SimSessionHarness::logText() const
{
    return simLogText(frames());
}

QByteArray SimSessionHarness::hostBytes() const
{
    return simHostBytes(frames());
}

bool SimSessionHarness::waitUntil(const std::function<bool()> &cond, int timeoutMs)
{
    // The converter's clock runs while nothing reads, at least as fast as
    // the real one (the loop timer ticks in real time); what it sends waits
    // for the next read.
    QElapsedTimer t;
    t.start();
    for (qint64 ran = 0; !cond();) {
        if (t.elapsed() > timeoutMs)
            return cond();
        QTest::qWait(1);
        const qint64 now = t.elapsed();
        sim->idle(double(std::max<qint64>(now - ran, 1)) / 1000.0);
        ran = now;
    }
    return true;
}

bool SimSessionHarness::waitForLog(const QString &text, int timeoutMs)
{
    return waitUntil([&] { return logText().contains(text); }, timeoutMs);
}
