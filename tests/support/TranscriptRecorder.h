// SPDX-License-Identifier: MIT
#pragma once
// Records every text the main window's transcript takes, in order, so a test
// can check what an exchange showed during its waits, not only at the end;
// and runs an action the moment the transcript first reaches a given state
// (unpace the polls of a wait that is meant to time out, drop the line
// during a wait, ...).
//
//   TranscriptRecorder rec(*h.w);
//   rec.when([](const QByteArray &t) { return t.endsWith("Received  ACK"); },
//            [&] { h.w->pollPacingMicros = 0; });
//   h.query("C1");
//   QCOMPARE(rec.states, (QList<QByteArray>{"Sent C1", ...}));

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>

class frmMain;

class TranscriptRecorder
{
public:
    explicit TranscriptRecorder(frmMain &w);
    ~TranscriptRecorder();
    TranscriptRecorder(const TranscriptRecorder &) = delete;
    TranscriptRecorder &operator=(const TranscriptRecorder &) = delete;

    QList<QByteArray> states;

    // The action runs once, inside the change that first meets cond.
    void when(std::function<bool(const QByteArray &)> cond, std::function<void()> action);
    void clear() { states.clear(); }

private:
    struct Trigger
    {
        std::function<bool(const QByteArray &)> cond;
        std::function<void()> action;
        bool done = false;
    };
    frmMain &m_w;
    QObject m_context;
    QList<Trigger> m_triggers;
};
