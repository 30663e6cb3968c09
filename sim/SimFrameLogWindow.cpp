// SPDX-License-Identifier: MIT
#include "sim/SimFrameLogWindow.h"

#include "sim/server/SimServer.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

SimFrameLogWindow::SimFrameLogWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmSimLog"));
    setWindowTitle(QStringLiteral("Simulated Orna - frame log"));
    view = new QPlainTextEdit;
    view->setObjectName(QStringLiteral("txtSimLog"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setMaximumBlockCount(MaxLines);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setAccessibleName(QStringLiteral("Frame log"));
    view->setMinimumSize(640, 300);
    cmdClear = new QPushButton(QStringLiteral("Clear"));
    cmdClear->setObjectName(QStringLiteral("cmdClearSimLog"));
    cmdClear->setAutoDefault(false);
    auto *cmdClose = new QPushButton(QStringLiteral("Close"));
    cmdClose->setAutoDefault(false);
    connect(cmdClear, &QPushButton::clicked, this, &SimFrameLogWindow::clear);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdClear);
    buttons->addWidget(cmdClose);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(view, 1);
    outer->addLayout(buttons);

    m_flush.setSingleShot(true);
    m_flush.setInterval(FlushMs);
    connect(&m_flush, &QTimer::timeout, this, &SimFrameLogWindow::flush);
}

void SimFrameLogWindow::follow(SimServer *server)
{
    if (server == m_server)
        return;
    disconnect(m_connection);
    m_server = server;
    // The server logs on its own thread; the frames come here queued.
    if (server)
        m_connection = connect(server, &SimServer::frameLogged, this, &SimFrameLogWindow::addFrame,
                               Qt::QueuedConnection);
}

void SimFrameLogWindow::addFrame(const SimFrame &frame)
{
    m_pending.append(frame.toLogLine());
    if (m_pending.size() > MaxLines) {
        const qsizetype extra = m_pending.size() - MaxLines;
        m_pending.remove(0, extra);
        m_skipped += extra;
    }
    if (!m_flush.isActive())
        m_flush.start();
}

void SimFrameLogWindow::flush()
{
    m_flush.stop();
    if (m_skipped > 0) {
        view->appendPlainText(QStringLiteral("(%1 lines not shown)").arg(m_skipped));
        m_skipped = 0;
    }
    if (m_pending.isEmpty())
        return;
    view->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
}

void SimFrameLogWindow::clear()
{
    m_pending.clear();
    m_skipped = 0;
    m_flush.stop();
    view->clear();
}

QString SimFrameLogWindow::text()
{
    flush();
    return view->toPlainText();
}

int SimFrameLogWindow::lineCount()
{
    flush();
    return view->document()->blockCount() - (view->document()->isEmpty() ? 1 : 0);
}
