// SPDX-License-Identifier: MIT
#include "support/TranscriptRecorder.h"

#include "app/TranscriptBox.h"
#include "app/frmMain.h"

TranscriptRecorder::TranscriptRecorder(frmMain &w) : m_w(w)
{
    QObject::connect(w.txtResults, &QPlainTextEdit::textChanged, &m_context, [this] {
        const QByteArray now = m_w.resultsText();
        // One change of the box may signal more than once.
        if (!states.isEmpty() && states.back() == now)
            return;
        states.append(now);
        for (qsizetype i = 0; i < m_triggers.size(); ++i) { // NOLINT(modernize-loop-convert): actions add triggers
            if (m_triggers[i].done || !m_triggers[i].cond(now))
                continue;
            m_triggers[i].done = true;
            const auto action = m_triggers[i].action; // the action may add triggers
            action();
        }
    });
}

TranscriptRecorder::~TranscriptRecorder() = default;

void TranscriptRecorder::when(std::function<bool(const QByteArray &)> cond, std::function<void()> action)
{
    m_triggers.append({std::move(cond), std::move(action)});
}
