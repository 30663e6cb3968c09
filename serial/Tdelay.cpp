// SPDX-License-Identifier: MIT
#include "serial/Tdelay.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <thread>

void Tdelay(double delaytime)
{
    if (!(delaytime > 0))
        return;
    const qint64 total = qint64(delaytime * 1e9);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 left = total - clock.nsecsElapsed();
        if (left <= 0)
            return;
        // Sleep in short slices rather than spin: same wait, idle processor.
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<qint64>(left, 1'000'000)));
    }
}
