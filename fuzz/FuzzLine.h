// SPDX-License-Identifier: MIT
#pragma once
// Shared parts of the exchange fuzz targets: the far end's bytes, split over
// the polls as the fuzz input says, played into the exchanges themselves
// (exchange/Exchange.h run by RunExchange) over a host without a window
// (LineRecord), and the checks every run ends with. No window and no event
// loop: a poll costs a function call, and a silence of any length is skipped
// in one step through the reply wait's idle hook, as the window's blocking
// wait counts an idle line. One line serves the whole process; each input
// starts it afresh with a light reset.
//
// Input layout (all targets): byte 0 holds options for the target, byte 1
// picks the entry text, then records follow until the input ends:
//   gap byte g   empty polls before this chunk: 0..247 as is; 248..251 mean
//                9998..10001 and 252..254 mean 29999..30001, so a chunk can
//                land right at either poll limit (at most kLongGaps of these
//                per input, later ones count as 0); 255 drops the line at
//                that point (the far end goes away)
//   length n     0..254 bytes follow; 255: a burst of two bytes (byte b,
//                count k) standing for b repeated k * 256 times (two of
//                the longest pass the receive bound)
// When the records run out the peer goes quiet (waits run to their poll
// limit) if bits 5 to 7 of byte 0 are all set, else it drops the line.
// Bit 3 of byte 0: the program is asked to end (its window closed) in the
// poll after the first reply bytes came, while the operation waits.

#include "exchange/Exchange.h"
#include "exchange/LineLock.h"
#include "exchange/RxWait.h"
#include "support/LineRecord.h"
#include "support/ScriptPort.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Reports a broken property and aborts, so libFuzzer keeps the input.
[[noreturn]] void fuzzFail(const char *what, const QByteArray &detail = {});
#define FUZZ_CHECK(cond, detail)                                                                                       \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            fuzzFail(#cond, detail);                                                                                   \
    } while (0)

struct FuzzChunk
{
    qint64 gap = 0;     // empty polls before it
    QByteArray bytes;   // delivered in one poll
    bool drop = false;  // the line is lost instead
};

struct FuzzInput
{
    static constexpr int kLongGaps = 3;

    quint8 options = 0;
    quint8 pick = 0;
    bool quietAtEnd = false;
    bool exitDuringWait = false;
    QList<FuzzChunk> chunks;

    static FuzzInput parse(const uint8_t *data, size_t size);
};

// The peer: every Input is the next step of the fuzz input once play() ran.
// A silence is skipped whole when the wait asks (skipQuiet). It also checks
// that no wait outlives its bound: between two writes or deliveries there
// are never more polls than one full wait.
class FuzzPort : public ScriptPort
{
    Q_OBJECT
public:
    using ScriptPort::ScriptPort;

    void play(const FuzzInput &in);
    void stop() { m_playing = false; }
    QByteArray Input() override;
    bool Output(const QByteArray &data) override;
    // The wait may hand its idle polls to skipQuiet while the input plays.
    bool waitMayBlock() const override { return m_playing && PortOpen(); }
    // The polls, at most maxIdle, that would bring nothing from now on;
    // they count as made.
    qint64 skipQuiet(qint64 maxIdle);

    qint64 playedInputs = 0;  // polls since play(), skipped ones included
    qint64 skipped = 0;       // of those, skipped whole
    QList<QByteArray> playedWrites;
    int delivered = 0;        // chunks handed over
    qint64 idlePolls = 0;     // polls since the last write or delivery
    qsizetype lastChunk = 0;  // size of the last chunk handed over
    // Delivered after the first write of play(), one entry per poll that
    // brought bytes; and all of it as one buffer.
    QList<QByteArray> chunksAfterFirstWrite;
    QByteArray afterFirstWrite() const;

private:
    bool m_playing = false;
    FuzzInput m_in;
    qsizetype m_next = 0;
    qint64 m_since = 0; // polls since the previous chunk
};

class FuzzLine;

// The record of one operation (what the window would show), with the checks
// of every write and every wait: the count never past limit + 1 and a
// timeout exactly when it passed the limit, the receive buffer bounded, a
// received buffer holding its terminator, no write once the line is lost or
// the program is to end.
struct FuzzHost : LineRecord
{
    explicit FuzzHost(FuzzLine &line);

    bool writeBytes(const QByteArray &bytes, bool frame) override;
    RxResult awaitReply(const QList<QByteArray> &terminators, qint64 limit) override;

    // The window's report of a closed or lost line before a write (set by
    // FuzzLine::exchange), or empty.
    QByteArray lineClosed;
    // Nothing went wrong on the line or in a wait: no timeout, no overflow,
    // no loss, no error text.
    bool clean() const { return error.isEmpty() && failures.isEmpty() && lineClosed.isEmpty(); }
    // The error box holds nothing, or one of the texts.
    bool errorIsOneOf(std::initializer_list<const char *> texts) const;

private:
    FuzzLine &m_line;
};

// The line, as the window holds it for one operation at a time: the port,
// the one-exchange lock, the loss report that waits for the operation's end.
class FuzzLine
{
public:
    FuzzPort port;
    LineLock lock;
    int lossSignals = 0;       // portLost during the operation
    bool exitAsked = false;    // the program was asked to end during it
    LineLock::Due due;         // what became due when it ended
    int refusedClicks = 0;     // operations asked for while it ran (each refused)

    // The line reset to just after the port was opened.
    static FuzzLine &fresh();

    // Runs one operation while the port plays the input, as the window runs
    // a click: the lock taken, then released; every poll asks the lock for a
    // second operation (as a click during a wait would), which must be
    // refused. Then the checks every operation must pass.
    template <typename F>
    void run(const FuzzInput &in, FuzzHost &host, F &&operation)
    {
        begin(in, host);
        operation();
        end(host);
    }

    // One exchange as the window runs it: the open port, the input drain
    // (which may find the line lost: then it stops before its write), the
    // exchange. False when the line was closed or a write or wait failed.
    bool exchange(FuzzHost &host, Exchange &x);

private:
    FuzzLine();
    void begin(const FuzzInput &in, FuzzHost &host);
    void end(FuzzHost &host);
};

// How an Xon/Xoff wait sequence ends when no wait times out: the chunks are
// added up until the buffer holds a terminator; a buffer that is one lone
// XOFF is a hold-off and starts a fresh buffer.
struct XonOutcome
{
    int holdOffs = 0;
    QByteArray last; // the buffer of the last wait (empty if none ended)
};
XonOutcome fuzzXonOutcome(const QList<QByteArray> &chunks, const QByteArray &terminators);

// The writes that reached the line are the expected ones; once the line is
// lost or the program is to end, a leading part of them.
bool fuzzWritesAre(const FuzzLine &line, const QList<QByteArray> &expected);
