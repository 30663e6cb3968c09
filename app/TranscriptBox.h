// SPDX-License-Identifier: MIT
#pragma once
// The transcript: a read-only, selectable text box that keeps the exact bytes
// the program wrote to it. CR LF shows as a line break; other control
// characters show as their symbols (C1 controls as their hex code), so
// nothing received is invisible.

#include <QByteArray>
#include <QPlainTextEdit>

class TranscriptBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TranscriptBox(QWidget *parent = nullptr);

    QByteArray bytes() const { return m_bytes; }
    void setBytes(const QByteArray &bytes);

    // How bytes are shown: one character per byte, CR LF as a line break.
    static QString displayText(const QByteArray &bytes);

private:
    QByteArray m_bytes;
};
