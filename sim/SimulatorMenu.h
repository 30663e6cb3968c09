// SPDX-License-Identifier: MIT
#pragma once
// The "Simulator" menu of the main window, for rehearsing a bench test on
// the simulated converter: fault switches, the turn-around delay, dropping
// the line, and the live frame log. The menu is always visible and enabled
// only while the line goes to the simulator.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QActionGroup;
class QMenu;
class SimFrameLogWindow;
class SimHost;
class SimServer;
class BenchSession;
class QMainWindow;

class SimulatorMenu : public QObject
{
    Q_OBJECT
public:
    // The fault switches by name, as orna-sim calls them.
    static const QStringList &faultNames(); // "delay", "silence", "nak", "noise", "holdoff", "no-stx", "after-eot", "babble", "drop"
    // How a switch strikes: "off", "once", "always", "rate" (one reply in four, at random).
    static const QStringList &whenNames();
    // The turn-around presets in milliseconds.
    static const QList<int> &turnaroundPresets();

    // Adds the menu to the window's menu bar before `before` (a menu's
    // action; none: at the end). host: the simulator the menu works on (the
    // program's simulated line); session: the bench whose line it follows.
    SimulatorMenu(QMainWindow &window, QAction *before, BenchSession &session, SimHost &host);

    QMenu *menu() const { return m_menu; }
    QAction *faultAction(const QString &fault, const QString &when) const;
    QAction *clearFaultsAction() const { return m_clear; }
    QAction *turnaroundAction(int ms) const;
    QAction *dropLineAction() const { return m_drop; }
    QAction *frameLogAction() const { return m_showLog; }
    SimFrameLogWindow *frameLogWindow() const { return m_log; }

    // The line is open and goes to this menu's simulator.
    bool lineIsSimulated() const;

private:
    SimHost *host() const;
    SimServer *server() const;
    void updateEnabled();
    void showSwitches();
    void chooseFault(int fault, int when);
    void clearFaults();
    void chooseTurnaround(int ms);
    void showFrameLog();

    BenchSession &m_session;
    QPointer<SimHost> m_host;
    QMenu *m_menu = nullptr;
    QMenu *m_faults = nullptr;
    QList<QList<QAction *>> m_faultActions; // [fault][when]
    QList<QMenu *> m_faultMenus;
    QAction *m_clear = nullptr;
    QList<QAction *> m_turnaround;
    QAction *m_drop = nullptr;
    QAction *m_showLog = nullptr;
    SimFrameLogWindow *m_log = nullptr;
};

