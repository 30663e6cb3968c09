// SPDX-License-Identifier: MIT
#pragma once
// The bench session on the simulated Orna in-process (sim/SimLinePort: the
// converter behind the port interface on a virtual clock), with the
// converter's frame log, its fault switches and state at hand. A poll is
// 100 us of the converter's time, so every wait is exact and fast.
//
//   SimSessionHarness h;                     // turn-around 0, no line pacing
//   QVERIFY(h.init());                       // cmdInit: COM 1, 9600,N,8,1
//   h.engine().setFaults(faults);            // fault switches, any time
//   h.query("C1");
//   QVERIFY(h.waitForLog("link open to address 5"));
//   QCOMPARE(h.hostBytes(), QByteArray("\x02? C1\x03\x04\x06"));

#include "sim/SimLinePort.h"
#include "support/SessionHarness.h"

#include <functional>

class SimSessionHarness : public SessionHarness
{
public:
    // Turn-around 0 and a line without pacing (a reply arrives whole, its
    // prompt with it); the other settings as the simulator's defaults.
    static SimConfig fastConfig();

    explicit SimSessionHarness(const SimConfig &config = fastConfig()) : SessionHarness(config) {}

    OrnaEngine &engine() const { return sim->engine(); }
    SimLanguage language() const { return engine().language(); }
    bool portOpen() const { return s->port().PortOpen(); }
    // The error box text when it is shown, else empty.
    QString error() const { return view.errorVisible ? view.error : QString(); }

    // The converter's frames since the last clearLog().
    QList<SimFrame> frames() const { return sim->frames().mid(m_framesCleared); }
    // Their log lines ("  1.204  host> *idn?<LF>"), one string.
    QString logText() const;
    // What the program wrote, as the converter took it in.
    QByteArray hostBytes() const;
    void clearLog() { m_framesCleared = sim->frames().size(); }
    // Runs events while the converter's clock runs, until cond() holds (or a
    // log line contains the text); false after timeoutMs.
    bool waitUntil(const std::function<bool()> &cond, int timeoutMs = 5000);
    bool waitForLog(const QString &text, int timeoutMs = 5000);

private:
    qsizetype m_framesCleared = 0;
};
