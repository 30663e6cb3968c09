// SPDX-License-Identifier: MIT
#pragma once
// An exchange host without a window: the exchange writes to a port object
// (scripted or the in-process simulator) and waits without pacing; what the
// window would show is recorded here. Exchanges are tested through it as the
// window runs them, down to the poll, but with no widget.

#include "exchange/Exchange.h"

#include <QByteArray>
#include <QList>
#include <QString>

class PortObject;

struct LineRecord : ExchangeHost
{
    explicit LineRecord(PortObject &p) : port(p) {}

    PortObject &port;
    QByteArray transcript;         // as the transcript box would hold it (lines joined by CR LF)
    QList<QByteArray> states;      // every state the transcript passed through
    QString error;                 // the error box's text; empty while hidden
    int beeps = 0;
    int repaints = 0;
    QByteArray outStr;             // the last frame written
    QList<QByteArray> replies;     // reply lines of answered SCPI queries
    QList<ModeView> views;         // view changes, in order
    bool linkOpened = false;
    int nakUsed = 0;
    QList<RxStatus> failures;      // waits that ended neither Received nor Timeout
    bool writeRefused = false;
    WaitHooks hooks;               // none: polls as fast as they go
    QList<qint64> waitPolls;       // the count of each wait when it ended
    QList<ExchangeOutcome> outcomes; // every outcome the exchange said, in order
    int holdOffs = 0;

    // Runs the exchange; false when a write or a wait failed.
    bool run(Exchange &exchange) { return RunExchange(exchange, *this); }

    bool writeBytes(const QByteArray &bytes, bool frame) override;
    RxResult awaitReply(const QList<QByteArray> &terminators, qint64 limit) override;
    void waitFailed(const RxResult &r) override { failures.append(r.status); }
    void apply(const Act &act) override;
};
