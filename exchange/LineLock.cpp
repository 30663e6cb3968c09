// SPDX-License-Identifier: MIT
#include "exchange/LineLock.h"

bool LineLock::tryBegin()
{
    if (m_state != State::Idle) {
        ++m_refused;
        return false;
    }
    m_state = State::Busy;
    return true;
}

bool LineLock::tryBeginTick()
{
    if (m_state != State::Idle) {
        ++m_skippedTicks;
        return false;
    }
    m_state = State::Busy;
    return true;
}

LineLock::Due LineLock::end()
{
    Due due;
    due.lineLost = m_lossDue;
    m_lossDue = false;
    if (m_state == State::ExitPending) {
        due.exit = true;
        m_state = State::Exiting;
    } else if (m_state == State::Busy) {
        m_state = State::Idle;
    }
    return due;
}

bool LineLock::lineLost()
{
    if (busy()) {
        m_lossDue = true;
        return false;
    }
    return true;
}

bool LineLock::requestExit()
{
    switch (m_state) {
    case State::Idle:
        m_state = State::Exiting;
        return true;
    case State::Busy:
        m_state = State::ExitPending;
        return false;
    case State::ExitPending:
    case State::Exiting:
        break;
    }
    return false;
}
