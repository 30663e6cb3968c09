// SPDX-License-Identifier: MIT
#pragma once
// A small non-modal window that shows the simulated converter's frame log
// live: every frame in both directions and every note, control characters
// by name. Lines arrive in batches so that a chatty line never stalls the
// window, and only the latest MaxLines are kept.

#include "sim/server/SimServer.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class SimFrameLogWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MaxLines = 2000;
    static constexpr int FlushMs = 100;

    explicit SimFrameLogWindow(QWidget *parent = nullptr);

    // Shows the frames of this server from now on (the previous one is let go).
    void follow(SimServer *server);
    SimServer *following() const { return m_server; }

    // What the window shows, with lines still waiting for the next batch.
    QString text();
    int lineCount();

    QPlainTextEdit *view = nullptr;
    QPushButton *cmdClear = nullptr;

public slots:
    void addFrame(const SimFrame &frame);
    void clear();

private:
    void flush();

    QPointer<SimServer> m_server;
    QMetaObject::Connection m_connection;
    QStringList m_pending;
    qint64 m_skipped = 0; // lines dropped before they were shown
    QTimer m_flush;
};
