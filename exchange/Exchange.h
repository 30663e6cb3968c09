// SPDX-License-Identifier: MIT
#pragma once
// The exchanges with the converter as plain steps: what is written, what
// the transcript and the error box show, what is awaited, and what each
// reply means. An exchange is pure: it sees only the bytes a wait received
// and its own options. RunExchange carries the steps out over a host (the
// main window, or a test's record) that owns the port and the display.

#include "exchange/RxWait.h"
#include "exchange/ModeViews.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// How an exchange ended, for the loop statistics and the log. The
// judgements name the first five; the window adds the rest, which come from
// the line or from the checks before anything is written.
enum class ExchangeOutcome {
    Ok,         // the awaited reply came and meant success
    Timeout,    // a wait ran out of polls
    Nak,        // the device refused with NAK
    BadData,    // the reply was not what the exchange expects (no STX first, an empty line, a refused address)
    ExtraBytes, // more than the closing EOT came at the end of a poll
    LineLost,   // the port was lost or closed under the exchange
    Overflow,   // the device sent more than the receive bound without the awaited byte
    NotSent,    // nothing went on the line: no port, no entry, no link, unknown mode, a refused write
    Aborted,    // the program is ending
};

// One send or query action as it ended.
struct ExchangeResult
{
    ExchangeOutcome outcome = ExchangeOutcome::Ok;
    int holdOffs = 0;
    // From the write of the first frame to the arrival of the last awaited
    // byte; -1 when the exchange's last wait got no awaited byte.
    qint64 responseNs = -1;
};

// One step of an exchange, carried out in order.
struct Act
{
    enum Kind {
        WriteFrame, // bytes written; they are the exchange's frame (kept in OutStr)
        Write,      // bytes written that are no frame (escape, bare copy, link opening)
        Replace,    // the transcript becomes bytes
        Append,     // bytes appended to the transcript after CR LF
        Repaint,    // the transcript repainted at once (the line shows during a wait)
        Error,      // text in the error box, shown
        Beep,
        Await,      // wait for one of `awaited`, at most `limit` polls; the result goes to judge()
        Reply,      // bytes are the reply line of an answered SCPI query (Rdg)
        View,       // the window's view changes as `view` says
        LinkOpened, // the X3.28 link opened: the address counts as set
        NakUsed,    // the one-shot NAK option was used: it is cleared
        Outcome,    // the exchange's outcome is `outcome` (the last one said counts)
        HoldOff,    // the device held the exchange off with a lone XOFF
    };
    Kind kind = Repaint;
    QByteArray bytes;
    QString text;
    QList<QByteArray> awaited;
    qint64 limit = 0;
    ModeView view = ModeView::Load;
    ExchangeOutcome outcome = ExchangeOutcome::Ok;

    static Act of(Kind k, const QByteArray &b = {})
    {
        Act a;
        a.kind = k;
        a.bytes = b;
        return a;
    }
    static Act writeFrame(const QByteArray &b) { return of(WriteFrame, b); }
    static Act write(const QByteArray &b) { return of(Write, b); }
    static Act replace(const QByteArray &b) { return of(Replace, b); }
    static Act append(const QByteArray &b) { return of(Append, b); }
    static Act repaint() { return of(Repaint); }
    static Act error(const QString &t)
    {
        Act a = of(Error);
        a.text = t;
        return a;
    }
    static Act beep() { return of(Beep); }
    static Act await(const QList<QByteArray> &terminators, qint64 limit)
    {
        Act a = of(Await);
        a.awaited = terminators;
        a.limit = limit;
        return a;
    }
    static Act reply(const QByteArray &b) { return of(Reply, b); }
    static Act viewChange(ModeView v)
    {
        Act a = of(View);
        a.view = v;
        return a;
    }
    static Act linkOpened() { return of(LinkOpened); }
    static Act nakUsed() { return of(NakUsed); }
    static Act result(ExchangeOutcome o)
    {
        Act a = of(Outcome);
        a.outcome = o;
        return a;
    }
    static Act holdOff() { return of(HoldOff); }
    // The error box with the message, then the beep: how a failure is reported.
    static QList<Act> fail(const QString &message) { return {error(message), beep()}; }
};
using Acts = QList<Act>;

class Exchange
{
public:
    virtual ~Exchange() = default;
    // The first steps, usually ending in an Await.
    virtual Acts start() = 0;
    // What the bytes of the last Await mean (it ended Received or Timeout),
    // and the steps that follow; no Await at their end ends the exchange.
    virtual Acts judge(const RxResult &r) { Q_UNUSED(r); return {}; }
};

// What an exchange reaches outside itself. Writes and waits report their own
// failures (a closed port, a lost line, an overflow) and say so by
// returning false / a status other than Received or Timeout; the exchange
// then ends.
class ExchangeHost
{
public:
    virtual ~ExchangeHost() = default;
    virtual bool writeBytes(const QByteArray &bytes, bool frame) = 0;
    virtual RxResult awaitReply(const QList<QByteArray> &terminators, qint64 limit) = 0;
    // Reports a wait that ended neither Received nor Timeout.
    virtual void waitFailed(const RxResult &r) = 0;
    // Everything else: the display and the window's state.
    virtual void apply(const Act &act) = 0;
};

// Carries an exchange out. False when a write or a wait failed.
bool RunExchange(Exchange &exchange, ExchangeHost &host);
// A fixed list of steps with no wait (the mode buttons).
bool RunActs(const Acts &acts, ExchangeHost &host);

// ---- The exchanges

// SCPI: the text with LF. A text containing "X3.28" or "XonXoff" (searched
// in that order, case-sensitive) switches the language: the text goes out
// once more, bare, and no reply is awaited. Otherwise a text with "?" is a
// query awaiting its reply line, and any other a command awaiting the prompt.
enum class ScpiKind { SwitchX328, SwitchXonXoff, Query, Command };
ScpiKind ClassifyScpi(const QByteArray &frame);
std::unique_ptr<Exchange> ScpiExchange(const QByteArray &text);

// X3.28 selection: STX "= " text ETX, answered by ACK or NAK (ACK wins).
std::unique_ptr<Exchange> SelectExchange(const QByteArray &text);
// X3.28 poll: query block, ACK (or NAK), EOT, data block STX ... ETX, one
// NAK for a repeat when asked, ACK, closing EOT. The two options are read
// when a data block is judged (the operator may tick them during the wait).
struct PollOptions
{
    std::function<bool()> oneNak;    // "Send one NAK for Data"
    std::function<bool()> byteCount; // "Display Character Count"
};
std::unique_ptr<Exchange> PollExchange(const QByteArray &text, const PollOptions &options);
// Xon/Xoff command: "= " text CR, then XOFF, XON or CR; a lone XOFF holds off.
std::unique_ptr<Exchange> XonCommandExchange(const QByteArray &text);
// Xon/Xoff query: "? " text CR, then XOFF or CR; a lone XOFF holds off.
std::unique_ptr<Exchange> XonQueryExchange(const QByteArray &text);
// X3.28 link opening: the address string and ENQ, answered by ACK. `typed`
// is the address as the operator typed it, for the transcript.
std::unique_ptr<Exchange> LinkOpenExchange(const QByteArray &address, const QByteArray &typed);

// The steps without a wait.
Acts ScpiButtonActs();   // "@@@", "Sent @@@", "SCPI commands enabled", SCPI mode
Acts DisconnectActs();   // DLE ENQ, "Sent <DLE> <ENQ>", X3.28 mode
Acts EscapeActs();       // "@@@" typed in X3.28 or Xon/Xoff mode: bare, SCPI mode

// The address typed for the X3.28 link: the string that goes on the line
// before ENQ (the text as typed for 0 to 9, one letter from A for 10 to 32),
// or nothing when the value is not 0 to 32 (or 0 not typed as "0").
std::optional<QByteArray> LinkAddress(const QByteArray &typed);
