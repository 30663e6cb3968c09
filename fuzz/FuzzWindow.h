// SPDX-License-Identifier: MIT
#pragma once
// Shared parts of the exchange fuzz targets: one QApplication for the
// process, the real main window headless on a port that plays the peer's
// bytes as the fuzz input says, and the checks every run ends with.
//
// Input layout (all targets): byte 0 holds options for the target, byte 1
// picks the entry text, then records follow until the input ends:
//   gap byte g   empty polls before this chunk: 0..247 as is; 248..251 mean
//                9998..10001 and 252..254 mean 29999..30001, so a chunk can
//                land right at either poll limit (at most kLongGaps of these
//                per input, later ones count as 0, so a run stays short);
//                255 drops the line at that point (the far end goes away)
//   length n     0..254 bytes follow; 255: a burst of two bytes (byte b,
//                count k) standing for b repeated k * 1024 times
// When the records run out the peer goes quiet (waits run to their poll
// limit) if bits 5 to 7 of byte 0 are all set, else it drops the line.

#include "app/frmMain.h"
#include "exchange/RxWait.h"
#include "serial/ComPortMap.h"
#include "support/FakeSeams.h"
#include "support/ScriptPort.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <memory>

// Creates the QApplication once (offscreen unless told otherwise).
void fuzzInitApp(int *argc, char ***argv);

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
    QList<FuzzChunk> chunks;

    static FuzzInput parse(const uint8_t *data, size_t size);
};

// The peer: before play() it behaves as a ScriptPort (scripted set-up
// replies); afterwards every Input is the next step of the fuzz input.
// It also checks that no wait outlives its bound: between two writes or
// deliveries there are never more polls than one full wait.
class FuzzPort : public ScriptPort
{
    Q_OBJECT
public:
    using ScriptPort::ScriptPort;

    void play(const FuzzInput &in);
    void stop() { m_playing = false; }
    QByteArray Input() override;
    bool Output(const QByteArray &data) override;

    qint64 playedInputs = 0;  // Input calls since play()
    QList<QByteArray> playedWrites;
    int delivered = 0;        // chunks handed over
    qint64 idlePolls = 0;     // polls since the last write or delivery
    QByteArray afterFirstWrite; // delivered after the first write of play()
    QList<QByteArray> chunksAfterFirstWrite; // the same, one entry per poll that brought bytes

private:
    bool m_playing = false;
    FuzzInput m_in;
    qsizetype m_next = 0;
    qint64 m_since = 0; // polls since the previous chunk
};

// The window on the fuzz port. One window serves the whole process (building
// one costs far more than an exchange); fresh() hands it back reset to the
// state right after the port was opened: start-up defaults, COM 1 open, SCPI
// mode, empty transcript and entries, the loop timer stopped so nothing but
// the operation runs.
struct FuzzWindow
{
    FuzzPort *port = nullptr; // owned by the window
    FakeSeams seams;
    ComPortMap map{[] { return QList<SystemDevice>{}; }};
    std::unique_ptr<frmMain> w;

    static FuzzWindow &fresh();

    // Opens the X3.28 link to address 5 with a scripted ACK.
    void openLink();
    // Runs one operation while the port plays the input, then checks the
    // things every operation must leave: the line released, a known mode, a
    // bounded number of polls, a lost line reported.
    template <typename F>
    void run(const FuzzInput &in, F &&operation)
    {
        port->play(in);
        operation();
        port->stop();
        checkAfter();
    }
    void checkAfter();

private:
    FuzzWindow();
    void reset();
};

// True when the error box is hidden or shows one of the texts (a text ending
// in "..." matches as a prefix), possibly followed by the lost-line line.
bool fuzzErrorIsOneOf(const frmMain &w, std::initializer_list<const char *> texts);
// The mode the window shows after an operation that stayed in `mode`: a
// lost line shows the closed port's view, which is SCPI.
bool fuzzModeAfter(const frmMain &w, const FuzzPort &port, const char *mode);

// The error texts every wait may end with besides its own timeout: the
// overflow and the lost line.
#define FUZZ_WAIT_FAILURES "Receive buffer overflow: ...", "COM 1 (/dev/script1) was lost: ..."

#define FUZZ_TARGET_INIT                                                                                               \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                                                       \
    {                                                                                                                  \
        fuzzInitApp(argc, argv);                                                                                       \
        return 0;                                                                                                      \
    }

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
// lost, a leading part of them.
bool fuzzWritesAre(const FuzzPort &port, const QList<QByteArray> &expected);
