// SPDX-License-Identifier: MIT
#include "app/TranscriptBox.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

TranscriptBox::TranscriptBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The text area paints its own background, so it is opaque: nothing
    // behind it repaints with it, and a paint held back leaves the last
    // frame standing rather than an empty box.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    // The frame's end: what changed during it is painted now (enabling
    // updates again repaints the text area and the scroll bar).
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (!viewport()->updatesEnabled())
            viewport()->setUpdatesEnabled(true);
        if (!verticalScrollBar()->updatesEnabled())
            verticalScrollBar()->setUpdatesEnabled(true);
    });
}

namespace {
constexpr int kFrameMs = 16;
} // namespace

bool TranscriptBox::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Paint) {
        QPainter painter(viewport());
        painter.fillRect(static_cast<QPaintEvent *>(event)->rect(), palette().brush(QPalette::Base));
    }
    return QPlainTextEdit::viewportEvent(event);
}

void TranscriptBox::holdPaint()
{
    // The first change after a quiet spell opens a display frame; every
    // change within it is painted at its end, in one paint. Painting at once
    // would put the paint between a command and the reading of its reply.
    if (!m_frame.isActive())
        m_frame.start(kFrameMs);
    if (viewport()->updatesEnabled())
        viewport()->setUpdatesEnabled(false);
    if (verticalScrollBar()->updatesEnabled())
        verticalScrollBar()->setUpdatesEnabled(false);
}

void TranscriptBox::repaintSoon()
{
    // What changed shows at the end of the running frame, while a wait that
    // follows processes the window's events.
    if (!m_frame.isActive() && !viewport()->updatesEnabled())
        m_frame.start(0);
}

void TranscriptBox::appendBytes(const QByteArray &separator, const QByteArray &line)
{
    // The separator is CR LF, shown as the break between the two; the shown
    // text of old + CR LF + line is the old shown text, a break, the line's.
    if (m_bytes.isEmpty() || separator != "\r\n") {
        setBytes(m_bytes + separator + line);
        return;
    }
    holdPaint();
    m_bytes += separator + line;
    appendPlainText(displayText(line));
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TranscriptBox::setBytes(const QByteArray &bytes)
{
    if (bytes == m_bytes)
        return;
    holdPaint();
    m_bytes = bytes;
    setPlainText(displayText(bytes));
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString TranscriptBox::displayText(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            out += QLatin1Char('\n');
            ++i;
        } else if (c < 0x20) {
            out += QChar(0x2400 + c); // control pictures: STX as a visible symbol
        } else if (c == 0x7f) {
            out += QChar(0x2421);
        } else if (c >= 0x80 && c <= 0x9f) {
            // C1 controls have no picture of their own: their code in hex,
            // between single angle quotes so it cannot pass for received text.
            out += QChar(0x2039) + QString::number(c, 16).toUpper() + QChar(0x203a);
        } else {
            out += QChar(c); // Latin-1: one character per byte
        }
    }
    return out;
}
