// SPDX-License-Identifier: MIT
// Plans in the main window: a session recorded as a plan while the user
// works, and a plan run through the window's own session, so the
// transcript and the line monitor show every step as for a user. While a
// plan runs, other operations and the loops are refused as busy.

#include "app/frmMain.h"

#include "app/PlanPanel.h"
#include "app/UiSeams.h"
#include "plan/PlanRecorder.h"
#include "plan/PlanRunner.h"
#include "serial/SafeFile.h"
#include "session/BenchSession.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include <algorithm>
#include <QStatusBar>

void frmMain::buildPlanUi()
{
    m_recorder = std::make_unique<PlanRecorder>(*m_session);
    actRecordPlan = new QAction(QStringLiteral("&Record Plan"), this);
    actRecordPlan->setObjectName(QStringLiteral("actRecordPlan"));
    actRecordPlan->setCheckable(true);
    actRecordPlan->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    actRecordPlan->setToolTip(QStringLiteral("Every operation from now on becomes a step of a plan, with the "
                                             "transcript lines and the error it produced as its expectations"));
    actStopRecording = new QAction(QStringLiteral("&Stop Recording..."), this);
    actStopRecording->setObjectName(QStringLiteral("actStopRecording"));
    actStopRecording->setEnabled(false);
    actRunPlan = new QAction(QStringLiteral("R&un Plan..."), this);
    actRunPlan->setObjectName(QStringLiteral("actRunPlan"));
    actRunPlan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    actRunPlan->setToolTip(QStringLiteral("Runs a plan file through this window"));
    mnuPlan = new QMenu(QStringLiteral("&Plan"), this);
    mnuPlan->setObjectName(QStringLiteral("mnuPlan"));
    mnuPlan->setToolTipsVisible(true);
    mnuPlan->addAction(actRecordPlan);
    mnuPlan->addAction(actStopRecording);
    mnuPlan->addSeparator();
    mnuPlan->addAction(actRunPlan);
    menuBar()->insertMenu(mnuHelp->menuAction(), mnuPlan);
    connect(actRecordPlan, &QAction::triggered, this, &frmMain::actRecordPlan_Click);
    connect(actStopRecording, &QAction::triggered, this, &frmMain::actStopRecording_Click);
    connect(actRunPlan, &QAction::triggered, this, &frmMain::actRunPlan_Click);
    // The check boxes are steps of a plan too, as the user sets them.
    connect(ckNAK, &QCheckBox::clicked, m_recorder.get(), &PlanRecorder::noteNak);
    connect(ckByteCnt, &QCheckBox::clicked, m_recorder.get(), &PlanRecorder::noteCount);

    planPanel = new PlanPanel;
    dockPlan = new QDockWidget(QStringLiteral("Plan"), this);
    dockPlan->setObjectName(QStringLiteral("dockPlan"));
    dockPlan->setWidget(planPanel);
    dockPlan->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea);
    addDockWidget(Qt::RightDockWidgetArea, dockPlan);
    dockPlan->hide();
    connect(planPanel, &PlanPanel::stopAsked, this, [this] {
        if (m_runner)
            m_runner->stop();
    });
}

void frmMain::actRecordPlan_Click(bool on)
{
    if (!on) {
        actStopRecording_Click();
        return;
    }
    m_recorder->start();
    actRecordPlan->setChecked(true);
    actStopRecording->setEnabled(true);
    statusBar()->showMessage(QStringLiteral("Recording a plan: every operation becomes a step"), 15000);
}

// Asks where to save the plan and stops recording once it is saved; left
// without a file (or when the file cannot be written), the recording goes
// on: nothing recorded is lost.
void frmMain::actStopRecording_Click()
{
    if (!m_recorder->recording())
        return;
    const QString suggested = QDir::current().filePath(
        QStringLiteral("ornasertest-%1.plan").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = m_seams->askSaveFile(this, QStringLiteral("Save Plan"), suggested,
                                              QStringLiteral("Plans (*.plan *.txt);;All files (*)"));
    QString why;
    if (!path.isEmpty() && !SafeFile::replace(path, m_recorder->planText().toUtf8(), &why))
        m_seams->warn(this, QStringLiteral("Save Plan"),
                      QStringLiteral("Cannot write %1: %2. Still recording.").arg(path, why));
    if (path.isEmpty() || !why.isEmpty()) {
        actRecordPlan->setChecked(true);
        statusBar()->showMessage(QStringLiteral("Still recording: the plan was not saved"), 15000);
        return;
    }
    m_recorder->stop();
    actRecordPlan->setChecked(false);
    actStopRecording->setEnabled(false);
    statusBar()->showMessage(QStringLiteral("Plan of %1 steps saved to %2").arg(m_recorder->steps()).arg(path), 15000);
}

void frmMain::actRunPlan_Click()
{
    if (m_runner)
        return;
    const QString path = m_seams->askOpenFile(this, QStringLiteral("Run Plan"),
                                              QStringLiteral("Plans (*.plan *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QList<PlanError> errors;
    const Plan plan = readPlan(path, &errors);
    if (!errors.isEmpty()) {
        QStringList text;
        for (const PlanError &e : errors)
            text << e.text();
        m_seams->warn(this, QStringLiteral("Run Plan"),
                      QStringLiteral("The plan was not run:\n%1").arg(text.join(QLatin1Char('\n'))));
        return;
    }
    planPanel->showPlan(path, plan);
    if (!dockPlan->isFloating() && dockPlan->isHidden()) {
        // A window of its own beside this one: docked, it would widen the
        // main window past a small screen.
        dockPlan->setFloating(true);
        dockPlan->resize(620, 440);
        QRect place(frameGeometry().topRight() + QPoint(8, 0), dockPlan->size());
        if (const QScreen *here = screen())
            place.moveRight(std::min(place.right(), here->availableGeometry().right()));
        dockPlan->move(place.topLeft());
    }
    dockPlan->show();
    dockPlan->raise();
    m_runner = new PlanRunner(*m_session, plan, PlanRunner::Options(), this);
    connect(m_runner, &PlanRunner::stepStarted, planPanel, &PlanPanel::stepStarted);
    connect(m_runner, &PlanRunner::stepFinished, planPanel, &PlanPanel::stepFinished);
    connect(m_runner, &PlanRunner::finished, planPanel, &PlanPanel::finished);
    connect(m_runner, &PlanRunner::finished, this, &frmMain::planFinished, Qt::QueuedConnection);
    actRunPlan->setEnabled(false);
    if (!m_runner->start())
        beep();
}

void frmMain::planFinished()
{
    if (m_runner)
        m_runner->deleteLater();
    m_runner = nullptr;
    actRunPlan->setEnabled(true);
}
