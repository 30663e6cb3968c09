// SPDX-License-Identifier: MIT
#pragma once
// What the bench shows and reads on a screen, in the order its operations
// need it: the transcript, the error box and its beep, the mode labels,
// captions and buttons, the entries and the two check boxes of the query
// frame, the busy notice and the one question. The main window implements
// it; tests and the plan runner put a recording one in its place.

#include "exchange/ModeViews.h"

#include <QByteArray>
#include <QString>

class BenchView
{
public:
    enum Answer { Yes, No, Cancel };

    virtual ~BenchView() = default;

    // The transcript: started afresh with `text`, or `line` appended after
    // `separator`; shown within a display frame (repaintResults: soon, before
    // a wait).
    virtual void replaceResults(const QByteArray &text) = 0;
    virtual void appendResults(const QByteArray &separator, const QByteArray &line) = 0;
    virtual void repaintResults() = 0;
    virtual QByteArray resultsText() const = 0;

    // The error box: the text set and the box shown, or hidden; the beep.
    virtual void showError(const QString &text) = 0;
    virtual void hideError() = 0;
    // Emptied and hidden.
    virtual void clearError() = 0;
    virtual QString errorText() const = 0;
    virtual bool errorShown() const = 0;
    virtual void beep() = 0;

    // The mode labels, captions and buttons as the row says; the focus to
    // the command entry (emptied) when the row asks for it.
    virtual void applyViewRow(const ViewRow &row) = 0;

    // The device command entry, the query entry and the address entry.
    virtual QByteArray commandText() const = 0;
    virtual void setCommandText(const QByteArray &text) = 0;
    virtual QByteArray queryText() const = 0;
    virtual void setQueryText(const QByteArray &text) = 0;
    virtual QByteArray addressText() const = 0;
    virtual void setAddressText(const QByteArray &text) = 0;
    // "Send one NAK for Data" and "Display Character Count".
    virtual bool oneNak() const = 0;
    virtual void setOneNak(bool on) = 0;
    virtual bool byteCount() const = 0;
    virtual void setByteCount(bool on) = 0;

    // An operation was refused while another waits: said until `on` is false.
    virtual void sayBusy(bool on) = 0;
    // A modal question with Yes (default), No and Cancel.
    virtual Answer askYesNoCancel(const QString &text, const QString &title) = 0;
};
