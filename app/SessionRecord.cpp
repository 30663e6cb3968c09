// SPDX-License-Identifier: MIT
// The bench record of the main window: the menus and keys of the line
// monitor, the loop statistics, the session log and the help; how each send
// and query action is counted; the continuous log's files.

#include "app/frmMain.h"

#include "app/LineMonitorView.h"
#include "app/LoopStatsWindow.h"
#include "app/UiSeams.h"
#include "serial/LineMonitor.h"
#include "serial/MonitoredPort.h"
#include "serial/SessionLog.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

namespace {
QString stamp(qint64 wallMs = QDateTime::currentMSecsSinceEpoch())
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
}
} // namespace

void frmMain::buildRecordUi()
{
    // The line monitor: a window of its own when first shown, which may be
    // docked below or beside the main window's controls.
    monitorView = new LineMonitorView(m_monitor);
    monitorView->setBusyCheck([this] { return m_line.busy(); });
    dockMonitor = new QDockWidget(QStringLiteral("Line Monitor"), this);
    dockMonitor->setObjectName(QStringLiteral("dockMonitor"));
    dockMonitor->setWidget(monitorView);
    dockMonitor->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea);
    addDockWidget(Qt::BottomDockWidgetArea, dockMonitor);
    dockMonitor->hide();

    // Keys that typing in the entry boxes never needs.
    actMonitor = new QAction(QStringLiteral("Line &Monitor"), this);
    actMonitor->setObjectName(QStringLiteral("actMonitor"));
    actMonitor->setCheckable(true);
    actMonitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(actMonitor, &QAction::triggered, this, &frmMain::actMonitor_Click);
    connect(dockMonitor, &QDockWidget::visibilityChanged, this,
            [this] { actMonitor->setChecked(dockMonitor->isVisible()); });
    actLoopStats = new QAction(QStringLiteral("Loop &Statistics"), this);
    actLoopStats->setObjectName(QStringLiteral("actLoopStats"));
    actLoopStats->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    actSaveLog = new QAction(QStringLiteral("&Save Log..."), this);
    actSaveLog->setObjectName(QStringLiteral("actSaveLog"));
    actSaveLog->setShortcut(QKeySequence::Save);
    actSaveLog->setToolTip(QStringLiteral("Writes what the line monitor holds to a file"));
    actLogContinuously = new QAction(QStringLiteral("&Log Continuously..."), this);
    actLogContinuously->setObjectName(QStringLiteral("actLogContinuously"));
    actLogContinuously->setCheckable(true);
    actLogContinuously->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    actLogContinuously->setToolTip(QStringLiteral("Writes a log file from every opening of the line, into a folder you choose"));
    actHelp = new QAction(QStringLiteral("&Help"), this);
    actHelp->setObjectName(QStringLiteral("actHelp"));
    actHelp->setShortcut(QKeySequence::HelpContents);

    mnuLine = menuBar()->addMenu(QStringLiteral("&Line"));
    mnuLine->setObjectName(QStringLiteral("mnuLine"));
    mnuLine->setToolTipsVisible(true);
    mnuLine->addAction(actMonitor);
    mnuLine->addAction(actLoopStats);
    mnuLine->addSeparator();
    mnuLine->addAction(actSaveLog);
    mnuLine->addAction(actLogContinuously);
    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp->addAction(actHelp);
    // The menu bar's button for menus that do not fit.
    for (QAbstractButton *more : menuBar()->findChildren<QAbstractButton *>())
        more->setAccessibleName(QStringLiteral("More menus"));
    // The floating monitor answers the main window's keys as well.
    for (QAction *a : {actMonitor, actLoopStats, actSaveLog, actLogContinuously, actHelp})
        monitorView->addAction(a);
    monitorView->cmdSaveLog->setDefaultAction(actSaveLog);
    monitorView->cmdSaveLog->show();

    connect(actLoopStats, &QAction::triggered, this, &frmMain::actLoopStats_Click);
    connect(actSaveLog, &QAction::triggered, this, &frmMain::actSaveLog_Click);
    connect(actLogContinuously, &QAction::triggered, this, &frmMain::actLogContinuously_Click);
    connect(actHelp, &QAction::triggered, this, &frmMain::cmdHelp_Click);
    connect(lblLoopStats, &QLabel::linkActivated, this, &frmMain::actLoopStats_Click);

    lblLogFile = new QLabel;
    lblLogFile->setObjectName(QStringLiteral("lblLogFile"));
    lblLogFile->setTextFormat(Qt::PlainText); // a folder's name is shown as it is
    lblLogFile->hide();
    // A long path must not widen the window: it shows what fits, and whole
    // in the tooltip.
    lblLogFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addPermanentWidget(lblLogFile, 1);
}

// ---- Counting the send and query actions

void frmMain::beginTally()
{
    m_tally = Tally();
    m_tally.active = true;
}

void frmMain::finishTally(const char *action)
{
    ExchangeResult r;
    if (m_tally.line)
        r.outcome = *m_tally.line;
    else if (m_tally.said)
        r.outcome = *m_tally.said;
    else
        r.outcome = m_tally.wrote ? ExchangeOutcome::Ok : ExchangeOutcome::NotSent;
    r.holdOffs = m_tally.holdOffs;
    if (!m_tally.line && m_tally.replyNs >= 0 && m_tally.firstWriteNs >= 0)
        r.responseNs = m_tally.replyNs - m_tally.firstWriteNs;
    m_tally = Tally();
    m_lastResult = r;
    m_monitor->note(MonitorRecord::Result, resultText(action, r).toUtf8());
}

void frmMain::loopStatsChanged()
{
    const QString summary = statsSummary(m_cmdStats, m_queryStats);
    if (summary.isEmpty()) {
        lblLoopStats->hide();
    } else {
        lblLoopStats->setText(QStringLiteral("<a href=\"stats\">%1</a>").arg(summary.toHtmlEscaped()));
        lblLoopStats->show();
    }
    if (m_statsWindow)
        m_statsWindow->statsChanged();
}

void frmMain::actMonitor_Click(bool on)
{
    if (on && !m_monitorShown) {
        // The first time it opens as a window of its own, beside this one.
        m_monitorShown = true;
        dockMonitor->setFloating(true);
        dockMonitor->resize(960, 420);
        dockMonitor->move(frameGeometry().bottomLeft() + QPoint(0, 8));
    }
    dockMonitor->setVisible(on);
    if (on) {
        dockMonitor->raise();
        dockMonitor->activateWindow();
        monitorView->tblMonitor->setFocus();
    }
}

void frmMain::actLoopStats_Click()
{
    if (!m_statsWindow)
        m_statsWindow = new LoopStatsWindow(m_cmdStats, m_queryStats, *m_seams, this);
    m_statsWindow->show();
    m_statsWindow->raise();
    m_statsWindow->activateWindow();
}

// ---- The transcript and the log

void frmMain::noteTranscript(bool fresh, const QByteArray &text)
{
    if (fresh && text.isEmpty())
        return; // emptied, not written
    // One record a line; only the first line of a fresh transcript starts it.
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = text.indexOf(CRLFStr, from);
        m_monitor->note(fresh && from == 0 ? MonitorRecord::Show : MonitorRecord::Line,
                        end < 0 ? text.mid(from) : text.mid(from, end - from));
        if (end < 0)
            return;
        from = end + CRLFStr.size();
    }
}

void frmMain::actSaveLog_Click()
{
    const QString suggested = QDir::current().filePath(QStringLiteral("ornasertest-%1.log").arg(stamp()));
    const QString path = m_seams->askSaveFile(this, QStringLiteral("Save Log"), suggested,
                                              QStringLiteral("Log files (*.log *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SessionLog::save(*m_monitor, path, &error)) {
        m_seams->warn(this, QStringLiteral("Save Log"), error);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Log saved to %1").arg(path), 15000);
}

void frmMain::actLogContinuously_Click(bool on)
{
    if (!on) {
        finishLog();
        m_logFolder.clear();
        showLogFile();
        return;
    }
    const QString folder =
        m_seams->askFolder(this, QStringLiteral("Log Continuously: the folder for a log file from every opening of the line"));
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isWritable()) {
        actLogContinuously->setChecked(false);
        if (!folder.isEmpty())
            m_seams->warn(this, QStringLiteral("Log Continuously"),
                          QStringLiteral("Cannot write log files into %1: it is not a folder this program may write "
                                         "to. Nothing is logged.")
                              .arg(folder));
        return;
    }
    m_logFolder = folder;
    // An open line is logged from its opening, as far as the monitor holds it.
    if (MSComm1->PortOpen())
        startLogFile(m_monitor->lastOpenSeq() ? m_monitor->lastOpenSeq() : m_monitor->firstSeq());
    showLogFile();
}

void frmMain::onLineOpened()
{
    if (!m_logFolder.isEmpty())
        startLogFile(m_monitor->lastSeq()); // the Open record just made
}

void frmMain::startLogFile(quint64 fromSeq)
{
    // Named after the line's opening, where the file starts.
    const MonitorRecord *open = m_monitor->find(fromSeq);
    const QString when = open && open->kind == MonitorRecord::Open ? stamp(open->wallMs) : stamp();
    const QString path =
        QDir(m_logFolder).filePath(QStringLiteral("ornasertest-%1-COM%2.log").arg(when).arg(MSComm1->CommPort()));
    if (!m_log->start(path, fromSeq))
        logFailed();
    showLogFile();
}

void frmMain::flushLog()
{
    if (m_log->active() && !m_log->flush())
        logFailed();
}

void frmMain::finishLog()
{
    if (m_log->active() && !m_log->finish())
        logFailed();
    showLogFile();
}

// A log that cannot be written is never lost in silence: the user is told
// at once, and continuous logging stops.
void frmMain::logFailed()
{
    m_logFolder.clear();
    actLogContinuously->setChecked(false);
    showLogFile();
    m_seams->warn(this, QStringLiteral("Session Log"), m_log->error() + QStringLiteral(". Continuous logging is off."));
}

void frmMain::showLogFile()
{
    if (m_log->active())
        lblLogFile->setText(QStringLiteral("Logging to %1").arg(m_log->path()));
    else if (!m_logFolder.isEmpty())
        lblLogFile->setText(QStringLiteral("Logging into %1 when the line opens").arg(m_logFolder));
    lblLogFile->setToolTip(lblLogFile->text());
    lblLogFile->setVisible(m_log->active() || !m_logFolder.isEmpty());
}
