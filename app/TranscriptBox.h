// SPDX-License-Identifier: MIT
#pragma once
// The transcript: a read-only, selectable text box that keeps the exact bytes
// the program wrote to it. CR LF shows as a line break; other control
// characters show as their symbols (C1 controls as their hex code), so
// nothing received is invisible.
//
// The text changes at once; painting is held to one per display frame
// (16 ms), the frame opened by the first change after a quiet spell, so an
// exchange that changes the transcript several times in a few milliseconds
// paints once, and never between a command and the reading of its reply.
// A "Sent" line shows within a frame while its wait runs. Only the text
// area paints: it is opaque, so nothing behind it repaints.

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
    // Makes sure what changed is painted by the end of the running frame.
    void repaintSoon();

    // How bytes are shown: one character per byte, CR LF as a line break.
    static QString displayText(const QByteArray &bytes);

protected:
    bool viewportEvent(QEvent *event) override;

private:
    // Before a change: its paint waits for the end of the display frame.
    void holdPaint();

    QByteArray m_bytes;
    QTimer m_frame; // one display frame from the first change after a quiet spell
};
