// SPDX-License-Identifier: MIT
#include "support/SimHarness.h"

#include "serial/ComPortMap.h"
#include "serial/LineSettings.h"
#include "serial/PortObject.h"
#include "serial/PortSelection.h"
#include "serial/frmPorts.h"
#include "sim/SimLinePort.h"
#include "sim/SimulatedLine.h"
#include "support/RecordingPort.h"
#include "support/SimFrames.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

SimConfig SimHarness::fastConfig()
{
    SimConfig config;
    config.turnaroundMs = 0.0;
    // At the real 9600 baud the prompt leaves a character time after the LF,
    // and whether the program's wait sees it depends on when it polls.
    config.followPortBaud = false;
    config.line.baud = 1'000'000'000;
    return config;
}

SimHarness::SimHarness(const SimConfig &config, Line line) : m_line(line)
{
    if (line == Line::InProcess) {
        resetPortSelection();
        m_simPort = new SimLinePort(config);
        w = std::make_unique<frmMain>(m_simPort, &seams, &map);
        return;
    }
    m_ownHost = std::make_unique<SimHost>(config);
    m_host = m_ownHost.get();
    setUp();
}

SimHarness::SimHarness(Line line) : m_line(line)
{
    if (line == Line::InProcess) {
        resetPortSelection();
        m_simPort = new SimLinePort(fastConfig());
        w = std::make_unique<frmMain>(m_simPort, &seams, &map);
    } else if (line == Line::OwnHost) {
        m_ownHost = std::make_unique<SimHost>(fastConfig());
        m_host = m_ownHost.get();
    } else {
        m_builtIn = std::make_unique<SimulatedLine>(map);
        m_host = &m_builtIn->host();
        m_host->setTurnaroundMs(0.0);
    }
    if (m_host)
        setUp();
}

void SimHarness::setUp()
{
    resetPortSelection();
    if (m_ownHost) {
        SimHost *h = m_host;
        map.setSimulatorProvider([h](QString *error) { return h->start(error); });
    }
    QObject::connect(
        m_host->server(), &SimServer::frameLogged, &m_receiver, [this](const SimFrame &f) { m_frames.append(f); },
        Qt::QueuedConnection);
    w = std::make_unique<frmMain>(nullptr, &seams, &map);
}

SimHarness::~SimHarness()
{
    w.reset();
    if (m_host)
        QObject::disconnect(m_host->server(), nullptr, &m_receiver, nullptr);
    m_builtIn.reset();
    map.setSimulatorProvider({});
    m_ownHost.reset();
    resetPortSelection();
}

bool SimHarness::open(int number, const QString &settings)
{
    static const QList<int> rates{1200, 2400, 9600, 19200, 38400};
    const auto chosen = parseLineSettings(settings);
    seams.dialog = [&](frmPorts &d) {
        if (chosen) {
            d.optBaud[rates.indexOf(chosen->baud)]->click();
            (chosen->parity == 'O' ? d.opt7O : chosen->parity == 'E' ? d.opt7E : d.optCh8)->click();
        }
        if (map.entry(number).kind != ComEntry::Simulator)
            d.cmbDevice[number - 1]->setEditText(ComPortMap::simulatorName());
        d.cmdCOM[number - 1]->click();
        d.cmdExit->click();
    };
    w->cmdInit_Click();
    seams.dialog = nullptr;
    return portOpen();
}

void SimHarness::send(const QByteArray &text)
{
    w->combCmd->setEditText(QString::fromLatin1(text));
    w->cmdSend_Click();
}

void SimHarness::query(const QByteArray &text)
{
    w->combQuery->setEditText(QString::fromLatin1(text));
    w->cmdQuery_Click();
}

void SimHarness::unpaced(const std::function<void()> &action)
{
    const int pacing = w->pollPacingMicros;
    w->pollPacingMicros = 0;
    action();
    w->pollPacingMicros = pacing;
}

RecordingPort *SimHarness::recordWrites()
{
    Q_ASSERT(m_host); // the real serial code needs the served simulator
    w.reset();
    auto *port = new RecordingPort;
    w = std::make_unique<frmMain>(port, &seams, &map);
    return port;
}

QString SimHarness::error() const
{
    return w->errorShown() ? w->errorText() : QString();
}

bool SimHarness::portOpen() const
{
    return w->MSComm1->PortOpen();
}

QList<SimFrame> SimHarness::frames() const
{
    return m_simPort ? m_simPort->frames().mid(m_framesCleared) : m_frames;
}

QString SimHarness::logText() const
{
    return simLogText(frames());
}

QByteArray SimHarness::hostBytes() const
{
    return simHostBytes(frames());
}

void SimHarness::clearLog()
{
    if (m_simPort)
        m_framesCleared = m_simPort->frames().size();
    m_frames.clear();
}

void SimHarness::withEngine(const std::function<void(OrnaEngine &)> &fn) const
{
    if (m_simPort)
        fn(m_simPort->engine());
    else
        server().withEngine(fn);
}

void SimHarness::setFaults(const SimFaults &faults)
{
    if (m_simPort)
        m_simPort->engine().setFaults(faults);
    else
        host().setFaults(faults);
}

void SimHarness::setTurnaroundMs(double ms)
{
    if (m_simPort)
        m_simPort->engine().setTurnaroundMs(ms);
    else
        host().setTurnaroundMs(ms);
}

bool SimHarness::waitForLog(const QString &text, int timeoutMs)
{
    return waitUntil([&] { return logText().contains(text); }, timeoutMs);
}

bool SimHarness::waitUntil(const std::function<bool()> &cond, int timeoutMs)
{
    if (m_simPort)
        return simWaitUntil(*m_simPort, cond, timeoutMs);
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return cond();
        QTest::qWait(5);
    }
    return true;
}

SimLanguage SimHarness::language() const
{
    SimLanguage l = SimLanguage::Scpi;
    withEngine([&](OrnaEngine &e) { l = e.language(); });
    return l;
}

int SimHarness::eventStatus() const
{
    int esr = 0;
    withEngine([&](OrnaEngine &e) { esr = e.eventStatus(); });
    return esr;
}
