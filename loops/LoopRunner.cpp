// SPDX-License-Identifier: MIT
#include "loops/LoopRunner.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <iterator>

namespace {
// Holds the line for one tick; gives it back on every way out.
class TickScope
{
public:
    explicit TickScope(LoopHost &host) : m_host(host) {}
    ~TickScope() { m_host.endOperation(); }
    TickScope(const TickScope &) = delete;
    TickScope &operator=(const TickScope &) = delete;

private:
    LoopHost &m_host;
};
} // namespace

bool LoopRunner::startCommandLoop(LoopHost &host)
{
    BenchState &s = host.state();
    if (host.view().commandText().isEmpty()) {
        host.view().beep();
        host.resultsReplace("No command specified.  Enter a command before starting the Command Loop");
        return false;
    }
    if (s.CMDloopFlg == 0) {
        m_cmdStats.reset(QDateTime::currentMSecsSinceEpoch());
        host.showLoopStats();
    }
    s.CMDloopFlg = 1;
    return true;
}

void LoopRunner::stopCommandLoop(LoopHost &host)
{
    BenchState &s = host.state();
    s.CMDloopFlg = 0;
    if (s.QloopFlg == 0)
        hideCount(host);
}

bool LoopRunner::startQueryLoop(LoopHost &host)
{
    BenchState &s = host.state();
    if (host.view().queryText().isEmpty()) {
        host.view().beep();
        host.resultsReplace("No query specified.  Enter a command before starting the Command Loop");
        return false;
    }
    if (s.QloopFlg == 0) {
        m_queryStats.reset(QDateTime::currentMSecsSinceEpoch());
        host.showLoopStats();
    }
    s.QloopFlg = 1;
    return true;
}

void LoopRunner::stopQueryLoop(LoopHost &host)
{
    BenchState &s = host.state();
    s.QloopFlg = 0;
    if (s.CMDloopFlg == 0)
        hideCount(host);
}

void LoopRunner::hideCount(LoopHost &host)
{
    m_countShown = false;
    m_labelShown = false;
    host.state().LpCount = 0;
    host.showLoopCount();
}

int LoopRunner::intervalFor(int index)
{
    return index < 0 || index >= int(std::size(kIntervalsMs)) ? 0 : kIntervalsMs[index];
}

void LoopRunner::reset(BenchState &state)
{
    state.CMDloopFlg = 0;
    state.QloopFlg = 0;
    state.LpCount = 0;
    m_countShown = false;
    m_labelShown = false;
}

void LoopRunner::tick(LoopHost &host)
{
    BenchState &s = host.state();
    if (s.CMDloopFlg == 0 && s.QloopFlg == 0) {
        m_countShown = false;
        s.LpCount = 0;
        host.showLoopCount();
        return;
    }
    // Each running loop counts the ticks it could not run.
    const auto skipped = [&](qint64 LoopStats::*counter) {
        if (s.CMDloopFlg == 1)
            ++(m_cmdStats.*counter);
        if (s.QloopFlg == 1)
            ++(m_queryStats.*counter);
        host.showLoopStats();
    };
    LineLock &lock = host.lineLock();
    if (lock.state() == LineLock::State::Idle && !host.portOpen()) {
        lock.tickSkipped();
        skipped(&LoopStats::skippedClosed);
        return;
    }
    if (!lock.tryBeginTick()) {
        if (lock.busy())
            skipped(&LoopStats::skippedBusy);
        return;
    }
    QElapsedTimer took;
    took.start();
    {
        const TickScope holding(host);
        if (s.CMDloopFlg == 1)
            m_cmdStats.add(host.runSend());
        // The flag is read again: a stop click during the command counts.
        // An exit asked for meanwhile sends nothing more, and neither does a
        // line lost during the command: the loss has been reported, and the
        // query could only report it again over that message.
        if (s.QloopFlg == 1 && !lock.stopWaits() && host.portOpen())
            m_queryStats.add(host.runQuery());
    }
    // The timer does not tick into its own handler: the ticks that fell due
    // while this one's exchanges waited never arrive, so they are counted
    // here as skipped.
    if (const qint64 missed = took.elapsed() / std::max(1, host.tickIntervalMs()); missed > 0) {
        if (s.CMDloopFlg == 1)
            m_cmdStats.skippedBusy += missed;
        if (s.QloopFlg == 1)
            m_queryStats.skippedBusy += missed;
    }
    host.showLoopStats();
    if (lock.state() == LineLock::State::Exiting)
        return;
    m_countShown = true;
    m_labelShown = true;
    ++s.LpCount;
    m_countText = QString::number(s.LpCount);
    host.showLoopCount();
}
