// SPDX-License-Identifier: MIT
#pragma once
// What an operation of the bench reaches: the line as the exchanges reach
// it (ExchangeHost), the shared state, the screen, and the few steps every
// operation takes the same way (the open port, the drain, an error said and
// recorded). The send and query actions, the mode buttons, the table
// operations and the loops are written against it; the bench session
// implements it.

#include "exchange/BenchState.h"
#include "exchange/BenchView.h"
#include "exchange/Exchange.h"

#include <QByteArray>
#include <QString>

class OperationHost : public ExchangeHost
{
public:
    virtual BenchState &state() = 0;
    virtual BenchView &view() = 0;

    // The error box with the message, recorded in the line monitor; beeps
    // unless told not to.
    virtual void reportError(const QString &message, bool beep = true) = 0;
    // The transcript started afresh, recorded in the line monitor.
    virtual void resultsReplace(const QByteArray &text) = 0;
    // True when the port is open; otherwise the closed port is reported.
    virtual bool requirePort() = 0;
    // Reads and drops everything pending. False (and reported) when the
    // line is closed or the read found it lost.
    virtual bool drainInput() = 0;
    // The line is closed or lost, or the program is ending: nothing more
    // goes out in this operation.
    virtual bool lineGone() const = 0;
    // The program is ending: waits end at once.
    virtual bool stopping() const = 0;
    // Waits that ended by the receive bound, so far.
    virtual qint64 overflows() const = 0;
    // Waits the given seconds without processing events (Tdelay).
    virtual void delay(double seconds) = 0;
    // The X3.28 link opening goes out now: an address edited after this is
    // not the one it opens with.
    virtual void linkOpening() = 0;

    // The send and query actions on the line this operation holds, counted
    // and recorded; how they ended.
    virtual ExchangeResult runSend() = 0;
    virtual ExchangeResult runQuery() = 0;
};
