// SPDX-License-Identifier: MIT
#pragma once
// The protocol engine of the stand-in Orna converter. It has no I/O, no
// threads and no clock of its own: the caller hands in received bytes with
// their arrival time and takes out reply bytes when their send time has
// come. One instance is one converter with its controllers behind it; it is
// not thread-safe (the server guards it with a mutex).
//
// Timing: a reply starts one turn-around delay after the last byte of the
// message it answers; each byte then takes one character time at the
// configured line rate (bits per character / baud) and is due when its
// last bit has left. Replies queue behind one another on the line.

#include "sim/engine/SimController.h"
#include "sim/engine/SimTypes.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <deque>
#include <functional>
#include <random>
#include <vector>

struct SimOut {
    double time = 0.0; // when the first of these bytes has fully left the line
    QByteArray bytes;
    bool hangUp = false; // the converter drops the line here (no bytes)
};

class OrnaEngine
{
public:
    explicit OrnaEngine(const SimConfig &config = SimConfig(), double tStart = 0.0);

    // Bytes received from the host, all arrived at time t (seconds, same
    // clock as takeDue). Times must not go backwards.
    void receive(const QByteArray &bytes, double t);
    // Everything whose send time is at or before tNow, in order.
    QList<SimOut> takeDue(double tNow);
    // Send time of the next byte still queued, or +infinity.
    double nextDueTime() const;
    bool hasPendingOutput() const { return !m_out.empty(); }
    // What waits to be sent at most (the converter's transmit queue): room
    // for the longest reply the faults make. A reply that finds no room, as
    // when the host goes on asking while a long reply is still on its way,
    // is dropped, and the log says so.
    static constexpr qsizetype kMaxQueuedOutput = 2 * 1024 * 1024;
    bool lineDropped() const { return m_dropped; }

    SimLanguage language() const { return m_language; }
    int linkAddress() const { return m_link; } // -1: no X3.28 link open
    int eventStatus() const { return m_esr; }  // as *ESR? would read it, without clearing
    SimTableEntry tableEntry(int slot) const;  // slots 1..100
    bool setTableEntry(int slot, const SimTableEntry &entry);
    SimController *controller(int address);

    // May be changed between calls to receive(); they apply to later replies.
    void setFaults(const SimFaults &faults); // restarts the fault counters and the generator
    // Like setFaults, but only the switches that change restart their
    // counters: a spent "once" elsewhere stays spent, and the generator goes on.
    void changeFaults(const SimFaults &faults);
    // The switches as they stand: a "once" switch is off after it struck.
    SimFaults faults() const { return m_cfg.faults; }
    void setTurnaroundMs(double ms) { m_cfg.turnaroundMs = qMax(0.0, ms); }
    double turnaroundMs() const { return m_cfg.turnaroundMs; }
    void setBusyMs(double ms) { m_cfg.busyMs = qMax(0.0, ms); }
    void setLineFormat(const SimLineFormat &line);
    SimLineFormat lineFormat() const { return m_cfg.line; }

    // Called for every frame in both directions and for notes; host frames
    // when they are recognised, sent frames when their first byte is taken.
    void setFrameHook(std::function<void(const SimFrame &)> hook) { m_hook = std::move(hook); }

    static QByteArray identification() { return QByteArrayLiteral("Vek,Orna simulator,SIM0001,1.0"); }

    // Standard event status bits.
    static constexpr int EsrOperationComplete = 1;
    static constexpr int EsrExecutionError = 16; // value out of range
    static constexpr int EsrCommandError = 32;   // unknown command or bad syntax

private:
    struct ReplyPart {
        QByteArray bytes;
        double gapSeconds = 0.0; // pause after the previous part
        QString note = {};
    };
    struct Segment {
        double start;
        QByteArray bytes;
        double charSeconds;
        qsizetype sent = 0;
        QString note = {};
        bool hangUp = false;
    };
    enum class Poll { Idle, AwaitEot, AwaitAck };

    void feed(char b, double t);
    void escapeToScpi(double t);

    void feedScpi(char b, double t);
    // DLE ENQ, the X3.28 disconnect, arriving in a text language (a host
    // sends it on leaving whatever the language): taken off the line being
    // gathered and ignored, so it does not spoil the next command.
    bool takeDisconnect(QByteArray &line, char b, double t);
    void handleScpiLine(const QByteArray &raw, bool overflow, double t);
    std::optional<QByteArray> assignAnsi(const QByteArray &args);
    std::optional<QByteArray> assignAnsiQuery(const QByteArray &args);
    void switchLanguage(SimLanguage language, const QByteArray &switchText, double t);

    void feedX328(char b, double t);
    void flushStray(double t, bool keepPossiblePrefix);
    void openLink(char addressChar, double t);
    void closeLink(double t, const QString &why);
    void handleFrame(QByteArray body, double t);
    void sendDataBlock(double t);
    void sendPollBlock(double t, const QString &note);
    void sendClosingEot(double t);

    void feedXonXoff(char b, double t);
    void handleXonLine(const QByteArray &line, double t);
    SimController *xonController();

    // Empty when the command was carried out, else why not.
    QString applyCommand(SimController *ctl, const QByteArray &text, double t);
    const SimTableEntry *lookup(const QByteArray &mnemonic) const;

    bool strikes(SimFault fault);
    const SimTrigger &trigger(SimFault fault) const { return m_cfg.faults.*simFaultInfo(fault).trigger; }
    QByteArray strayLetters(int count);
    void sendReply(double tTrigger, QList<ReplyPart> parts);
    double schedule(double earliest, QByteArray bytes, const QString &note);
    void scheduleHangUp(double at);
    void log(SimFrame::Kind kind, double t, const QByteArray &bytes, const QString &note = {});
    void note(double t, const QString &text) { log(SimFrame::Note, t, {}, text); }

    SimConfig m_cfg;
    std::vector<SimController> m_controllers;
    std::array<SimTableEntry, 101> m_table; // index 0 unused
    SimLanguage m_language = SimLanguage::Scpi;
    int m_esr = 0;

    // Bytes common to all languages: the "@@@" escape and the bare copy of
    // a language switch that the program sends after the switch line.
    int m_atRun = 0;
    QByteArray m_echo;
    qsizetype m_echoPos = 0;
    double m_echoDeadline = 0.0;

    QByteArray m_scpiLine;
    bool m_scpiOverflow = false;
    bool m_scpiEndedByCr = false; // the last line ended with a CR: an LF right after belongs to it

    bool m_inFrame = false;
    QByteArray m_frame;
    QByteArray m_stray; // bytes outside frames not yet part of a message
    int m_link = -1;
    int m_lastAddressed = -1;
    Poll m_poll = Poll::Idle;
    int m_pollRegister = 0;
    QByteArray m_pollBlock;

    QByteArray m_xonLine;

    std::deque<Segment> m_out;
    qsizetype m_queued = 0; // bytes in m_out not yet sent
    double m_lineFree;
    bool m_hangUpScheduled = false;
    bool m_dropped = false;

    std::mt19937 m_rng;
    std::array<int, SimFaultCount> m_occasions{};
    std::function<void(const SimFrame &)> m_hook;
};
