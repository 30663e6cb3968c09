// SPDX-License-Identifier: MIT
#include "app/PlanPanel.h"

#include "plan/PlanRunner.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
enum Column { State, Step, Time, ColumnCount };

void setState(QTreeWidgetItem *item, const QString &state, const QColor &colour)
{
    item->setText(State, state);
    item->setForeground(State, colour);
}
} // namespace

PlanPanel::PlanPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmPlan"));
    lblPlanFile = new QLabel;
    lblPlanFile->setObjectName(QStringLiteral("lblPlanFile"));
    lblPlanFile->setTextFormat(Qt::PlainText);
    tblPlanSteps = new QTreeWidget;
    tblPlanSteps->setObjectName(QStringLiteral("tblPlanSteps"));
    tblPlanSteps->setAccessibleName(QStringLiteral("Plan steps"));
    tblPlanSteps->setRootIsDecorated(false);
    tblPlanSteps->setUniformRowHeights(true);
    tblPlanSteps->setColumnCount(ColumnCount);
    tblPlanSteps->setHeaderLabels({QStringLiteral("State"), QStringLiteral("Step"), QStringLiteral("ms")});
    tblPlanSteps->header()->setStretchLastSection(false);
    tblPlanSteps->header()->setSectionResizeMode(Step, QHeaderView::Stretch);
    tblPlanSteps->setMinimumSize(520, 240);
    cmdStopPlan = new QToolButton;
    cmdStopPlan->setObjectName(QStringLiteral("cmdStopPlan"));
    cmdStopPlan->setText(QStringLiteral("Stop"));
    cmdStopPlan->setToolTip(QStringLiteral("Ends the run after the step in progress"));
    cmdStopPlan->setEnabled(false);
    connect(cmdStopPlan, &QToolButton::clicked, this, &PlanPanel::stopAsked);
    lblPlanSummary = new QLabel;
    lblPlanSummary->setObjectName(QStringLiteral("lblPlanSummary"));
    lblPlanSummary->setWordWrap(true);

    auto *top = new QHBoxLayout;
    top->addWidget(lblPlanFile, 1);
    top->addWidget(cmdStopPlan);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addLayout(top);
    outer->addWidget(tblPlanSteps, 1);
    outer->addWidget(lblPlanSummary);
}

void PlanPanel::showPlan(const QString &file, const Plan &plan)
{
    tblPlanSteps->clear();
    m_rows.clear();
    lblPlanFile->setText(QFileInfo(file).fileName());
    lblPlanFile->setToolTip(file);
    lblPlanSummary->setText(QStringLiteral("Running"));
    cmdStopPlan->setEnabled(true);
    // Listed ahead, unless there are so many that they are listed as they run.
    PlanCursor cursor(plan);
    QList<QTreeWidgetItem *> items;
    while (const std::optional<PlanItem> item = cursor.next()) {
        if (items.size() == kListedSteps) {
            qDeleteAll(items);
            items.clear();
            m_rows.clear();
            break;
        }
        auto *row = new QTreeWidgetItem({QStringLiteral("pending"), item->name(), QString()});
        m_rows.insert(item->id(), row);
        items << row;
    }
    tblPlanSteps->addTopLevelItems(items);
}

QTreeWidgetItem *PlanPanel::row(const QString &id) const
{
    return m_rows.value(id);
}

QTreeWidgetItem *PlanPanel::rowFor(const StepResult &step)
{
    if (QTreeWidgetItem *known = m_rows.value(step.id))
        return known;
    if (tblPlanSteps->topLevelItemCount() >= kListedSteps)
        delete tblPlanSteps->takeTopLevelItem(0);
    auto *row = new QTreeWidgetItem({QString(), step.name, QString()});
    tblPlanSteps->addTopLevelItem(row);
    m_rows.insert(step.id, row);
    return row;
}

void PlanPanel::stepStarted(const StepResult &step)
{
    QTreeWidgetItem *item = rowFor(step);
    setState(item, QStringLiteral("running"), QColor(0x1f, 0x4e, 0xa8));
    tblPlanSteps->scrollToItem(item);
}

void PlanPanel::stepFinished(const StepResult &step)
{
    QTreeWidgetItem *item = rowFor(step);
    switch (step.outcome) {
    case StepResult::Passed: setState(item, QStringLiteral("passed"), QColor(0x0a, 0x6a, 0x1a)); break;
    case StepResult::Failed:
        setState(item, QStringLiteral("FAILED"), QColor(0xb0, 0x00, 0x00));
        item->setToolTip(Step, step.verdict.details().trimmed());
        break;
    case StepResult::Error:
        setState(item, QStringLiteral("ERROR"), QColor(0xb0, 0x00, 0x00));
        item->setToolTip(Step, step.message);
        break;
    case StepResult::NotRun:
        setState(item, QStringLiteral("not run"), QColor(0x77, 0x77, 0x77));
        item->setToolTip(Step, step.message);
        break;
    }
    if (step.outcome != StepResult::NotRun)
        item->setText(Time, QString::number(step.seconds * 1000, 'f', 1));
}

void PlanPanel::finished(const RunSummary &s)
{
    cmdStopPlan->setEnabled(false);
    if (s.refused) {
        lblPlanSummary->setText(QStringLiteral("Not run: another operation holds the line"));
        return;
    }
    lblPlanSummary->setText((s.allPassed() ? QStringLiteral("Passed: ") : QStringLiteral("Failed: ")) +
                            s.countsText(2) + (s.interrupted ? QStringLiteral(" (stopped)") : QString()));
}
