// SPDX-License-Identifier: MIT
#pragma once
// A screen for the bench session in tests: what the session shows is kept
// as plain values (the transcript's bytes, the error box, the beeps, the
// mode labels, captions and buttons as the rows left them), and what it
// reads comes from fields the test sets (the entries, the two check boxes,
// the answers to the question).

#include "exchange/BenchView.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class RecordingView : public BenchView
{
public:
    // ---- What the session showed
    QByteArray transcript;
    QString error;
    bool errorVisible = false;
    int beeps = 0;
    int repaints = 0;
    // The mode labels, the buttons of the rows (in kViewButtons' order; all
    // disabled before a row set them) and the three captions.
    bool lblSCPI = true, lblX328 = false, lblXOnXoff = false;
    std::array<bool, kViewButtonCount> buttons{};
    QString cmdLbl, frmDevCmd, frmDevResp;
    int focusToCommand = 0; // rows that gave the command entry the focus
    // Every text the transcript took, in order (what an exchange showed
    // during its waits, not only at the end); a change to the same text is
    // not a new one.
    QList<QByteArray> states;
    bool busyNotice = false;
    int busyNotices = 0;

    // ---- What the session reads (and may change)
    QByteArray command, query, address;
    bool nak = false;
    bool count = false;
    QList<Answer> answers;  // taken in order; Cancel when none is left
    QStringList questions;  // "title|text" of every question asked

    // A button of the rows by name ("cmdSend"); false for an unknown name.
    bool isEnabled(const char *button) const;
    void setEnabled(const char *button, bool on);
    // Which mode labels show: "SCPI:1 X3.28:0 XonXoff:0".
    QString labels() const;
    // The enabled buttons of the rows, in kViewButtons' order: "cmdSCPI cmdSend".
    QString enabledButtons() const;

    void replaceResults(const QByteArray &text) override
    {
        transcript = text;
        noteState();
    }
    void appendResults(const QByteArray &separator, const QByteArray &line) override
    {
        transcript += separator + line;
        noteState();
    }
    void repaintResults() override { ++repaints; }
    QByteArray resultsText() const override { return transcript; }
    void showError(const QString &text) override
    {
        error = text;
        errorVisible = true;
    }
    void hideError() override { errorVisible = false; }
    void clearError() override
    {
        error.clear();
        errorVisible = false;
    }
    QString errorText() const override { return error; }
    bool errorShown() const override { return errorVisible; }
    void beep() override { ++beeps; }
    void applyViewRow(const ViewRow &row) override;
    QByteArray commandText() const override { return command; }
    void setCommandText(const QByteArray &text) override { command = text; }
    QByteArray queryText() const override { return query; }
    void setQueryText(const QByteArray &text) override { query = text; }
    QByteArray addressText() const override { return address; }
    void setAddressText(const QByteArray &text) override { address = text; }
    bool oneNak() const override { return nak; }
    void setOneNak(bool on) override { nak = on; }
    bool byteCount() const override { return count; }
    void setByteCount(bool on) override { count = on; }
    void sayBusy(bool on) override;
    Answer askYesNoCancel(const QString &text, const QString &title) override;

private:
    void noteState()
    {
        if (states.isEmpty() || states.back() != transcript)
            states.append(transcript);
    }
};
