// SPDX-License-Identifier: MIT
#pragma once
// The transcript: a read-only, selectable text box that keeps the exact bytes
// the program wrote to it. CR LF shows as a line break; other control
// characters show as their symbols (C1 controls as their hex code), so
// nothing received is invisible.
//
// The text changes at once; painting is held to one per display frame, so
// an exchange that changes the transcript several times in a few
// milliseconds does not wait for each paint. The first change after a quiet
// spell paints at once (the "Sent" line shows while its wait runs). Only
// the text area paints: it is opaque, so nothing behind it repaints.

#include <QByteArray>
#include <QPlainTextEdit>
#include <QTimer>

class TranscriptBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TranscriptBox(QWidget *parent = nullptr);

    QByteArray bytes() const { return m_bytes; }
    void setBytes(const QByteArray &bytes);
    // Appends separator and line to the bytes; the shown text grows by the
    // line alone, without being laid out anew.
    void appendBytes(const QByteArray &separator, const QByteArray &line);
    // Paints now when the last paint is a display frame ago, else at the
    // end of this frame.
    void repaintSoon();

    // How bytes are shown: one character per byte, CR LF as a line break.
    static QString displayText(const QByteArray &bytes);

protected:
    bool viewportEvent(QEvent *event) override;

private:
    // Before a change: within a display frame, the paint waits for its end.
    void holdPaint();

    QByteArray m_bytes;
    QTimer m_frame; // runs for one display frame after each paint
};
