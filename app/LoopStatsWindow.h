// SPDX-License-Identifier: MIT
#pragma once
// The loop statistics window: one row per measure, a column for each loop,
// refreshed at most RefreshMs apart while shown. Copy puts the table on the
// clipboard as text, Save CSV writes it to a file the user names.

#include <QTimer>
#include <QWidget>

struct LoopStats;
class QPushButton;
class QTableWidget;
class UiSeams;

class LoopStatsWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 250;

    LoopStatsWindow(const LoopStats &command, const LoopStats &query, UiSeams &seams, QWidget *parent = nullptr);

    QTableWidget *tblLoopStats = nullptr;
    QPushButton *cmdCopyStats = nullptr;
    QPushButton *cmdSaveStatsCsv = nullptr;

    // The statistics changed: the table follows soon, if it is shown.
    void statsChanged();

public slots:
    void refresh();
    void copy();
    void saveCsv();

protected:
    void showEvent(QShowEvent *event) override;

private:
    const LoopStats &m_command;
    const LoopStats &m_query;
    UiSeams &m_seams;
    QTimer m_refresh;
};
