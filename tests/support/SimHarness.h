// SPDX-License-Identifier: MIT
#pragma once
// The real main window, headless, talking to the simulated Orna: by default
// in-process (sim/SimLinePort: the simulator engine behind the port
// interface on a virtual clock, no thread, no pseudo-terminal), or through
// the real serial code (QtSerialPortObject) to the simulator served on a
// pseudo-terminal, for what needs the real serial code: the end-to-end rig.
// The port mapping reports no serial device, so COM 1 opens the simulator
// exactly as it does for a newcomer without hardware.
//
//   SimHarness h;                           // simulator of its own, turn-around 0
//   QVERIFY2(h.open(), qPrintable(h.error()));  // cmdInit: COM 1, 9600,N,8,1
//   h.send("*idn?");                        // combCmd text, then cmdSend_Click
//   QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\n...")); 
//   h.setFaults(faults);                    // fault switches, any time
//   h.query("C1");                          // combQuery text, then cmdQuery_Click
//   QCOMPARE(h.seams.beeps, 0);
//   QVERIFY(h.waitForLog("language X3.28")); // the simulator's frame log
//   h.unpaced([&] { h.send("*cls"); });     // a wait that is meant to time out
//
// In-process, a poll is 100 us of the converter's time, whatever it costs,
// so every wait is exact and fast. On a pseudo-terminal polls are paced as
// in the program (a full 30000-poll wait lasts seconds), so an answered
// exchange ends as soon as its reply is in. A wait that is meant to time out
// there runs unpaced (unpaced(), or w->pollPacingMicros = 0) and ends within
// a fraction of a second; keep answered exchanges paced, since unpaced polls
// may outrun a reply on a busy machine.

#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "sim/SimulatedLine.h"
#include "sim/server/SimHost.h"
#include "support/FakeSeams.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class RecordingPort;
class SimLinePort;

class SimHarness
{
public:
    // Which simulator stands behind the line.
    enum class Line {
        InProcess, // the engine with the given configuration behind the port interface
        OwnHost,   // a SimHost of the harness's own, with the given configuration
        // The program's own simulated line (installSimulatedLine), turn-around
        // set to 0. Its replies leave at the opened baud rate, as from hardware,
        // so an SCPI prompt may trail the reply line into a later poll.
        BuiltIn
    };

    // Turn-around 0 and a line without pacing (a reply arrives whole, its
    // prompt with it); otherwise the simulator's defaults (EZ-Zone
    // controllers at addresses 1 and 5, the EZ-Zone example table in slots 1-3).
    static SimConfig fastConfig();

    explicit SimHarness(const SimConfig &config = fastConfig(), Line line = Line::InProcess);
    explicit SimHarness(Line line);
    ~SimHarness();
    SimHarness(const SimHarness &) = delete;
    SimHarness &operator=(const SimHarness &) = delete;

    FakeSeams seams;
    // The port mapping of the harness's window: the system reports no serial
    // device, so COM 1 opens the simulator.
    ComPortMap map{[] { return QList<SystemDevice>{}; }};
    std::unique_ptr<frmMain> w;

    // The served simulator (not in-process).
    SimHost &host() const { return *m_host; }
    SimServer &server() const { return *m_host->server(); }
    // The converter itself, whichever line it stands behind.
    void withEngine(const std::function<void(OrnaEngine &)> &fn) const;
    void setFaults(const SimFaults &faults);
    void setTurnaroundMs(double ms);

    // Runs cmdInit through the port dialog: the settings ("19200,E,7,1") as
    // its option buttons, "Simulated Orna" beside COM `number` unless that
    // number opens it already, the COM button, "Return to    Main Form".
    // True when the port is open afterwards (see error() otherwise).
    bool open(int number = 1, const QString &settings = QStringLiteral("9600,N,8,1"));
    // Types the text into combCmd and presses Send.
    void send(const QByteArray &text);
    // Types the text into combQuery and presses Send Query.
    void query(const QByteArray &text);
    // Runs the action with unpaced polls, then restores the pacing.
    void unpaced(const std::function<void()> &action);
    // Rebuilds the window (before open()) on a RecordingPort: the same real
    // serial code, with every write recorded, also after a loss of the line.
    RecordingPort *recordWrites();

    QByteArray transcript() const { return w->resultsText(); }
    // The error box text when it is shown, else empty.
    QString error() const;
    bool portOpen() const;

    // The simulator's frame log as it has reached this thread.
    QList<SimFrame> frames() const;
    // The log lines ("  1.204  host> *idn?<LF>"), one string.
    QString logText() const;
    // What the program wrote, as the simulator took it in (host frames joined).
    QByteArray hostBytes() const;
    void clearLog();
    // Runs events (in-process: lets the converter's clock run) until a log
    // line contains the text; false after timeoutMs.
    bool waitForLog(const QString &text, int timeoutMs = 5000);
    // The same until cond() holds.
    bool waitUntil(const std::function<bool()> &cond, int timeoutMs = 5000);

    // Reads the converter's state under the server's lock.
    SimLanguage language() const;
    int eventStatus() const;

private:
    void setUp();

    Line m_line;
    SimLinePort *m_simPort = nullptr; // in-process; owned by the window
    std::unique_ptr<SimHost> m_ownHost;
    std::unique_ptr<SimulatedLine> m_builtIn;
    SimHost *m_host = nullptr;
    QObject m_receiver; // frames arrive here, on the test's thread
    QList<SimFrame> m_frames;
    qsizetype m_framesCleared = 0; // in-process frames before the last clearLog()
};
