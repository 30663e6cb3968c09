// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include <QElapsedTimer>

#include <algorithm>
#include <thread>

// Waits delaytime seconds on a monotonic clock, so the wait is right across
// midnight and clock changes. Window events are not processed meanwhile;
// bytes arriving wait in the receive buffer.
void frmMain::Tdelay(double delaytime)
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
