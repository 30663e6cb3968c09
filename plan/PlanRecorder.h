// SPDX-License-Identifier: MIT
#pragma once
// Records a session done by hand as a plan: each operation the user starts
// becomes a step, and the transcript lines and the error it produced become
// its expectations. A line that carries a reading (the data block of a
// poll, the reply of a query) is written as a pattern that keeps the line's
// shape and lets its numbers vary, with a comment saying so, so the plan
// passes again against a live converter; the user can tighten it. Where the
// line rested between operations the plan pauses (at most kPauseMs), so
// that a late prompt is drained on replay as it was by hand.

#include "session/BenchSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class PlanRecorder : public QObject
{
    Q_OBJECT
public:
    // The longest pause a recorded plan makes where the line rested.
    static constexpr int kPauseMs = 200;

    explicit PlanRecorder(BenchSession &session, QObject *parent = nullptr);

    void start();
    void stop();
    bool recording() const { return m_recording; }
    // The two check boxes of the query frame, as the user set them.
    void noteNak(bool on);
    void noteCount(bool on);
    // Steps recorded so far.
    int steps() const { return m_steps; }
    // The plan as recorded, ready to be saved.
    QString planText() const;

private:
    void operationEnded(const BenchOperation &op);
    void addStep(const QString &line);
    QString openLine(const PortChoice &choice) const;

    BenchSession &m_session;
    bool m_recording = false;
    QStringList m_lines;
    int m_steps = 0;
    QElapsedTimer m_sinceLast;
};
