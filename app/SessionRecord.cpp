// SPDX-License-Identifier: MIT
// The bench record in the main window: the menus and keys of the line
// monitor, the loop statistics, the session log and the help, and what
// they show of the session's record.

#include "app/frmMain.h"

#include "app/LineMonitorView.h"
#include "app/LoopStatsWindow.h"
#include "app/UiSeams.h"
#include "serial/SessionLog.h"
#include "session/BenchRecord.h"
#include "session/BenchSession.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

namespace {
QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
}
} // namespace

void frmMain::buildRecordUi()
{
    // The line monitor: a window of its own when first shown, which may be
    // docked below or beside the main window's controls.
    monitorView = new LineMonitorView(m_session->record().monitorPtr());
    monitorView->setBusyCheck([this] { return m_session->busy(); });
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
    connect(&m_session->record(), &BenchRecord::logChanged, this, &frmMain::showLogFile);
    connect(&m_session->record(), &BenchRecord::logFailed, this,
            [this](const QString &message) { m_seams->warn(this, QStringLiteral("Session Log"), message); });
}

// ---- What the session says of the record

void frmMain::showLoopStats()
{
    const QString summary = statsSummary(commandLoopStats(), queryLoopStats());
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
        m_statsWindow = new LoopStatsWindow(commandLoopStats(), queryLoopStats(), *m_seams, this);
    m_statsWindow->show();
    m_statsWindow->raise();
    m_statsWindow->activateWindow();
}

// ---- The session log

void frmMain::actSaveLog_Click()
{
    const QString suggested = QDir::current().filePath(QStringLiteral("ornasertest-%1.log").arg(stamp()));
    const QString path = m_seams->askSaveFile(this, QStringLiteral("Save Log"), suggested,
                                              QStringLiteral("Log files (*.log *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!m_session->record().saveLog(path, &error)) {
        m_seams->warn(this, QStringLiteral("Save Log"), error);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Log saved to %1").arg(path), 15000);
}

void frmMain::actLogContinuously_Click(bool on)
{
    if (!on) {
        m_session->stopLogging();
        return;
    }
    const QString folder =
        m_seams->askFolder(this, QStringLiteral("Log Continuously: the folder for a log file from every opening of the line"));
    if (m_session->startLogging(folder))
        return;
    actLogContinuously->setChecked(false);
    if (!folder.isEmpty())
        m_seams->warn(this, QStringLiteral("Log Continuously"),
                      QStringLiteral("Cannot write log files into %1: it is not a folder this program may write "
                                     "to. Nothing is logged.")
                          .arg(folder));
}

void frmMain::showLogFile()
{
    const QString status = m_session->record().logStatus();
    lblLogFile->setText(status);
    lblLogFile->setToolTip(status);
    lblLogFile->setVisible(!status.isEmpty());
    if (m_session->record().folder().isEmpty() && !m_session->sessionLog().active())
        actLogContinuously->setChecked(false);
}
