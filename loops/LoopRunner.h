// SPDX-License-Identifier: MIT
#pragma once
// The command loop and the query loop, driven by one periodic timer: their
// start and stop, the interval, the tick that runs each running loop's
// exchange once, the visible count and each loop's statistics.

#include "exchange/LineLock.h"
#include "exchange/OperationHost.h"
#include "loops/LoopStats.h"

#include <QString>

// What a tick reaches beyond an operation's host: the line lock it asks,
// the port, the end of the operation it held, and who shows the loops.
class LoopHost : public OperationHost
{
public:
    virtual LineLock &lineLock() = 0;
    // The timer's interval as it ticks now.
    virtual int tickIntervalMs() const = 0;
    virtual bool portOpen() const = 0;
    // The operation that held the line ends (what became due follows).
    virtual void endOperation() = 0;
    // The count (and whether it shows) or the statistics changed.
    virtual void showLoopCount() = 0;
    virtual void showLoopStats() = 0;
};

class LoopRunner
{
public:
    // The interval choices: 100 ms, 200 ms, 300 ms, 500 ms, 1 sec.
    static constexpr int kIntervalsMs[] = {100, 200, 300, 500, 1000};

    // cmdCmdtst: the command loop runs from the next tick; false (beep and
    // the transcript say why) when the command entry is empty. A loop that
    // starts counts from zero; pressing Start on a running loop (to reach
    // its Stop button after a mode change) keeps its count.
    bool startCommandLoop(LoopHost &host);
    // cmdCmdtstoff: the command loop stops; with no loop left, the count
    // is hidden and set back.
    void stopCommandLoop(LoopHost &host);
    // cmdQtst and cmdQtstOff: the same for the query loop.
    bool startQueryLoop(LoopHost &host);
    void stopQueryLoop(LoopHost &host);
    // optTime: the interval for the timer, in ms; 0 for an index out of range.
    static int intervalFor(int index);
    // Timer1: one tick: the command exchange, then the query exchange, then
    // one count. A tick that falls due while an exchange waits, or while the
    // port is closed, is skipped and not counted: it would nest on the line
    // or write to nothing.
    void tick(LoopHost &host);
    // Back to the start: no loop, the count hidden.
    void reset(BenchState &state);

    bool countShown() const { return m_countShown; }
    bool countLabelShown() const { return m_labelShown; }
    // The count as last shown.
    QString countText() const { return m_countText; }
    const LoopStats &commandStats() const { return m_cmdStats; }
    const LoopStats &queryStats() const { return m_queryStats; }

private:
    void hideCount(LoopHost &host);

    bool m_countShown = false;
    bool m_labelShown = false;
    QString m_countText;
    LoopStats m_cmdStats;
    LoopStats m_queryStats;
};
