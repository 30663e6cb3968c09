// SPDX-License-Identifier: MIT
#include "sim/SimulatorMenu.h"

#include "session/BenchSession.h"
#include "sim/SimFrameLogWindow.h"
#include "sim/server/SimHost.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {
const auto &kFaults = simFaultCatalogue();
constexpr int kFaultCount = SimFaultCount;

enum When { Off, Once, Always, Rate, WhenCount };
const char *const kWhenCaptions[WhenCount] = {"Off", "Once (next occasion)", "Always", "At random, 1 reply in 4"};
constexpr double kRate = 0.25;

SimTrigger triggerFor(int when)
{
    switch (when) {
    case Once: return SimTrigger::once();
    case Always: return SimTrigger::always();
    case Rate: return SimTrigger::atRate(kRate);
    default: return SimTrigger::off();
    }
}

int whenOf(const SimTrigger &t)
{
    switch (t.mode) {
    case SimTrigger::Once: return Once;
    case SimTrigger::Always: return Always;
    case SimTrigger::Rate: return Rate;
    case SimTrigger::Off: break;
    }
    return Off;
}
} // namespace

const QStringList &SimulatorMenu::faultNames()
{
    static const QStringList names = [] {
        QStringList n;
        for (const SimFaultInfo &f : kFaults)
            n << QLatin1String(f.name);
        return n;
    }();
    return names;
}

const QStringList &SimulatorMenu::whenNames()
{
    static const QStringList names{QStringLiteral("off"), QStringLiteral("once"), QStringLiteral("always"),
                                   QStringLiteral("rate")};
    return names;
}

const QList<int> &SimulatorMenu::turnaroundPresets()
{
    static const QList<int> presets{0, 3, 20, 100, 500};
    return presets;
}

SimulatorMenu::SimulatorMenu(QMainWindow &window, QAction *before, BenchSession &session, SimHost &host)
    : QObject(&window)
    , m_session(session)
    , m_host(&host)
{
    m_menu = new QMenu(QStringLiteral("&Simulator"), &window);
    m_menu->setObjectName(QStringLiteral("mnuSimulator"));
    m_menu->setToolTipsVisible(true);

    m_faults = m_menu->addMenu(QStringLiteral("&Faults"));
    m_faults->setObjectName(QStringLiteral("mnuSimFaults"));
    for (int i = 0; i < kFaultCount; ++i) {
        QMenu *sub = m_faults->addMenu(QLatin1String(kFaults[i].caption));
        auto *group = new QActionGroup(sub);
        group->setExclusive(true);
        QList<QAction *> actions;
        for (int w = 0; w < WhenCount; ++w) {
            QAction *a = sub->addAction(QLatin1String(kWhenCaptions[w]));
            a->setObjectName(QStringLiteral("actSim_%1_%2").arg(faultNames()[i], whenNames()[w]));
            a->setCheckable(true);
            group->addAction(a);
            connect(a, &QAction::triggered, this, [this, i, w] { chooseFault(i, w); });
            actions << a;
        }
        m_faultMenus << sub;
        m_faultActions << actions;
    }
    m_faults->addSeparator();
    m_clear = m_faults->addAction(QStringLiteral("&Clear all faults"));
    m_clear->setObjectName(QStringLiteral("actSimClearFaults"));
    connect(m_clear, &QAction::triggered, this, &SimulatorMenu::clearFaults);

    QMenu *turn = m_menu->addMenu(QStringLiteral("&Turn-around delay"));
    turn->setObjectName(QStringLiteral("mnuSimTurnaround"));
    auto *turnGroup = new QActionGroup(turn);
    const int defaultMs = int(SimConfig().turnaroundMs);
    for (int ms : turnaroundPresets()) {
        QAction *a = turn->addAction(ms == defaultMs ? QStringLiteral("%1 ms (default)").arg(ms)
                                                     : QStringLiteral("%1 ms").arg(ms));
        a->setObjectName(QStringLiteral("actSimTurnaround_%1").arg(ms));
        a->setCheckable(true);
        turnGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, ms] { chooseTurnaround(ms); });
        m_turnaround << a;
    }

    m_menu->addSeparator();
    m_drop = m_menu->addAction(QStringLiteral("&Drop the line now"));
    m_drop->setObjectName(QStringLiteral("actSimDropLine"));
    m_drop->setToolTip(QStringLiteral("The simulator hangs up, as an unplugged adapter would"));
    connect(m_drop, &QAction::triggered, this, [this] {
        if (lineIsSimulated())
            server()->dropLine();
    });
    m_showLog = m_menu->addAction(QStringLiteral("Show frame &log…"));
    m_showLog->setObjectName(QStringLiteral("actSimFrameLog"));
    connect(m_showLog, &QAction::triggered, this, &SimulatorMenu::showFrameLog);

    // The log collects from the start, so opening it shows what just happened.
    m_log = new SimFrameLogWindow(&window);
    m_log->setAttribute(Qt::WA_QuitOnClose, false);
    if (SimServer *s = server())
        m_log->follow(s);

    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        updateEnabled();
        showSwitches();
    });
    connect(m_faults, &QMenu::aboutToShow, this, &SimulatorMenu::showSwitches);
    connect(turn, &QMenu::aboutToShow, this, &SimulatorMenu::showSwitches);

    // Beside the window's own menus.
    window.menuBar()->insertMenu(before, m_menu);
    connect(&session, &BenchSession::lineChanged, this, &SimulatorMenu::updateEnabled);
    updateEnabled();
}

SimHost *SimulatorMenu::host() const
{
    return m_host.data();
}

SimServer *SimulatorMenu::server() const
{
    SimHost *h = host();
    return h ? h->server() : nullptr;
}

bool SimulatorMenu::lineIsSimulated() const
{
    SimHost *h = host();
    const BenchSession::LineTarget line = m_session.lineTarget();
    if (!h || !line.simulated)
        return false;
    const QString path = h->devicePath();
    return !path.isEmpty() && path == line.device;
}

void SimulatorMenu::updateEnabled()
{
    const bool on = lineIsSimulated();
    m_menu->menuAction()->setEnabled(on);
    if (on)
        m_log->follow(server());
}

QAction *SimulatorMenu::faultAction(const QString &fault, const QString &when) const
{
    const int f = faultNames().indexOf(fault);
    const int w = whenNames().indexOf(when);
    return f >= 0 && w >= 0 ? m_faultActions[f][w] : nullptr;
}

QAction *SimulatorMenu::turnaroundAction(int ms) const
{
    const int i = turnaroundPresets().indexOf(ms);
    return i >= 0 ? m_turnaround[i] : nullptr;
}

// Checks the entries that match the simulator's present switches.
void SimulatorMenu::showSwitches()
{
    SimServer *s = server();
    const SimFaults f = s ? s->faults() : SimFaults();
    for (int i = 0; i < kFaultCount; ++i) {
        const int w = whenOf(f.*kFaults[i].trigger);
        m_faultActions[i][w]->setChecked(true);
        QString title = QLatin1String(kFaults[i].caption);
        if (i == 0)
            title += QStringLiteral(" by %1 ms").arg(f.delayMs);
        if (w != Off)
            title += QStringLiteral("  [%1]").arg(whenNames()[w]);
        m_faultMenus[i]->setTitle(title);
    }
    const double ms = s ? s->turnaroundMs() : SimConfig().turnaroundMs;
    for (int i = 0; i < m_turnaround.size(); ++i)
        if (double(turnaroundPresets()[i]) == ms)
            m_turnaround[i]->setChecked(true);
}

void SimulatorMenu::chooseFault(int fault, int when)
{
    SimServer *s = server();
    if (s && lineIsSimulated()) {
        SimFaults f = s->faults();
        SimTrigger &t = f.*kFaults[fault].trigger;
        // Only this switch restarts its count; choosing "once" again arms it afresh.
        if (when == Once && t.mode == SimTrigger::Once) {
            t = SimTrigger::off();
            s->changeFaults(f);
        }
        t = triggerFor(when);
        s->changeFaults(f);
    }
    showSwitches();
}

void SimulatorMenu::clearFaults()
{
    SimServer *s = server();
    if (s && lineIsSimulated()) {
        SimFaults f = s->faults();
        for (const SimFaultInfo &sw : kFaults)
            f.*sw.trigger = SimTrigger::off();
        s->changeFaults(f);
    }
    showSwitches();
}

void SimulatorMenu::chooseTurnaround(int ms)
{
    if (SimServer *s = server(); s && lineIsSimulated())
        s->setTurnaroundMs(ms);
    showSwitches();
}

void SimulatorMenu::showFrameLog()
{
    if (SimServer *s = server())
        m_log->follow(s);
    m_log->show();
    m_log->raise();
    m_log->activateWindow();
}

