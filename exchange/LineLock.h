// SPDX-License-Identifier: MIT
#pragma once
// The one-exchange-at-a-time rule of the line, and the two things that must
// wait for the running operation to end: the program's exit and the report
// of a line lost meanwhile. Clicks, Enter, the dialog, the table operations
// and the loop tick all ask it the same way.

#include <QtGlobal>

class LineLock
{
public:
    enum class State {
        Idle,        // nothing holds the line
        Busy,        // an operation holds it
        ExitPending, // an operation holds it; the exit follows when it ends
        Exiting,     // the program is ending: nothing starts any more
    };

    State state() const { return m_state; }
    bool busy() const { return m_state == State::Busy || m_state == State::ExitPending; }
    // Waits end at once (aborted) when the program is to end.
    bool stopWaits() const { return m_state == State::ExitPending || m_state == State::Exiting; }

    // An operation asks for the line: true (and Busy) when it is free;
    // otherwise refused, and counted.
    bool tryBegin();
    // A loop tick asks: the same, but a tick that cannot run is skipped.
    bool tryBeginTick();

    struct Due
    {
        bool lineLost = false; // the line went while the operation ran
        bool exit = false;     // the exit asked for meanwhile is due now
    };
    // The operation ends; says what became due.
    Due end();

    // The line was lost. True when nothing runs, so the loss is to be shown
    // now; otherwise it is due at the end of the operation.
    bool lineLost();
    // The exit is asked for. True when nothing runs: the exit happens now
    // (Exiting); otherwise it follows the running operation.
    bool requestExit();
    // The exit is carried out (also by the window's close control).
    void exiting() { m_state = State::Exiting; }

    // A tick skipped for another reason (no open port).
    void tickSkipped() { ++m_skippedTicks; }

    qint64 refused() const { return m_refused; }
    qint64 skippedTicks() const { return m_skippedTicks; }

private:
    State m_state = State::Idle;
    bool m_lossDue = false;
    qint64 m_refused = 0;
    qint64 m_skippedTicks = 0;
};
