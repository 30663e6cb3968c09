// SPDX-License-Identifier: MIT
#pragma once
// The bench's screen where there is no window (a plan run from the command
// line): it keeps what a window would show (the transcript, the error box)
// and holds the entries and check boxes the steps fill in. The one question
// (EZ-Zone or F4) is answered by the step that loads the table, never here.

#include "exchange/BenchView.h"

class PlanView : public BenchView
{
public:
    void replaceResults(const QByteArray &text) override { m_transcript = text; }
    void appendResults(const QByteArray &separator, const QByteArray &line) override
    {
        m_transcript += separator + line;
    }
    void repaintResults() override {}
    QByteArray resultsText() const override { return m_transcript; }
    void showError(const QString &text) override
    {
        m_error = text;
        m_errorShown = true;
    }
    void hideError() override { m_errorShown = false; }
    void clearError() override
    {
        m_error.clear();
        m_errorShown = false;
    }
    QString errorText() const override { return m_error; }
    bool errorShown() const override { return m_errorShown; }
    void beep() override {}
    void applyViewRow(const ViewRow &row) override
    {
        if (row.focusEntry)
            m_command.clear();
    }
    QByteArray commandText() const override { return m_command; }
    void setCommandText(const QByteArray &text) override { m_command = text; }
    QByteArray queryText() const override { return m_query; }
    void setQueryText(const QByteArray &text) override { m_query = text; }
    QByteArray addressText() const override { return m_address; }
    void setAddressText(const QByteArray &text) override { m_address = text; }
    bool oneNak() const override { return m_nak; }
    void setOneNak(bool on) override { m_nak = on; }
    bool byteCount() const override { return m_count; }
    void setByteCount(bool on) override { m_count = on; }
    void sayBusy(bool) override {}
    Answer askYesNoCancel(const QString &, const QString &) override { return Cancel; }

private:
    QByteArray m_transcript;
    QString m_error;
    bool m_errorShown = false;
    QByteArray m_command, m_query, m_address;
    bool m_nak = false;
    bool m_count = false;
};
