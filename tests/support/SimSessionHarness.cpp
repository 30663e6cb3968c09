// SPDX-License-Identifier: MIT
#include "support/SimSessionHarness.h"

#include "support/SimFrames.h"

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
    return simWaitUntil(*sim, cond, timeoutMs);
}

bool SimSessionHarness::waitForLog(const QString &text, int timeoutMs)
{
    return waitUntil([&] { return logText().contains(text); }, timeoutMs);
}
