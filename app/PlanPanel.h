// SPDX-License-Identifier: MIT
#pragma once
// The plan run in the main window: every step of the plan as pending,
// running, passed, failed, error or not run, with its time (a failed step's
// expected and observed lines in its tooltip), Stop, and the summary at the
// end.

#include <QWidget>

#include <QHash>

class QLabel;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
struct Plan;
struct RunSummary;
struct StepResult;

class PlanPanel : public QWidget
{
    Q_OBJECT
public:
    // A plan of more steps than this lists them as they run, the latest kept.
    static constexpr int kListedSteps = 10000;

    explicit PlanPanel(QWidget *parent = nullptr);

    QLabel *lblPlanFile = nullptr;
    QTreeWidget *tblPlanSteps = nullptr;
    QToolButton *cmdStopPlan = nullptr;
    QLabel *lblPlanSummary = nullptr;

    // A new run of the plan read from `file`: its steps pending.
    void showPlan(const QString &file, const Plan &plan);
    void stepStarted(const StepResult &step);
    void stepFinished(const StepResult &step);
    void finished(const RunSummary &summary);
    // The row of a step by its id ("line 12 #3"), or null.
    QTreeWidgetItem *row(const QString &id) const;

signals:
    void stopAsked();

private:
    QTreeWidgetItem *rowFor(const StepResult &step);

    QHash<QString, QTreeWidgetItem *> m_rows;
};
