// SPDX-License-Identifier: MIT
#pragma once
// The line monitor's window: the monitor's records as a table (ms since the
// line opened, wall clock, record, hex, text with control characters by
// name), newest at the bottom. It repaints at most RefreshMs apart however
// fast the line runs, and only while it is shown. Pause holds the table as
// it is (recording goes on). While an exchange runs on the line the table
// waits for its end (at most HeldMaxMs), so that painting does not delay the
// exchange. Clear starts the table afresh (the records stay
// for the log); Copy puts the selected rows, or all, on the clipboard as
// log lines; Next failure finds the next exchange that failed (its error,
// its outcome, a loss of the line).

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class LineMonitor;
class MonitorModel;
class QLabel;
class QTableView;
class QToolButton;

class LineMonitorView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 50;
    static constexpr int HeldMaxMs = 500;

    explicit LineMonitorView(std::shared_ptr<LineMonitor> monitor, QWidget *parent = nullptr);
    ~LineMonitorView() override;

    QTableView *tblMonitor = nullptr;
    QToolButton *cmdPause = nullptr;
    QToolButton *cmdClear = nullptr;
    QToolButton *cmdCopy = nullptr;
    QToolButton *cmdNextFailure = nullptr;
    QToolButton *cmdSaveLog = nullptr; // the main window's Save Log action
    QLabel *lblMonitorStatus = nullptr;

    // The rows the table shows, as log lines (selected ones, or all).
    QString copyText() const;
    int rowCount() const;
    // How many times the table took in new records (for the repaint bound).
    qint64 refreshes() const { return m_refreshes; }
    // Says whether an exchange is running on the line: the table then waits.
    void setBusyCheck(std::function<bool()> busy) { m_busy = std::move(busy); }

public slots:
    void refresh();
    void clear();
    void copy();
    void nextFailure();
    void setPaused(bool paused);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void changed();
    void showStatus();
    bool isFailure(int row) const;

    std::shared_ptr<LineMonitor> m_monitor;
    MonitorModel *m_model = nullptr;
    QTimer m_refresh;
    bool m_paused = false;
    quint64 m_clearedThrough = 0; // records up to this one are not shown
    qint64 m_refreshes = 0;
    std::function<bool()> m_busy;
    QElapsedTimer m_sinceRefresh;
};
