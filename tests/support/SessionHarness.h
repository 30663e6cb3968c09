// SPDX-License-Identifier: MIT
#pragma once
// The bench session without a window, for the tests of its operations: a
// scripted port (replies at chosen polls) or the in-process simulated
// converter behind it, a recording view in front, polls unpaced (a full
// 30000-poll wait takes a few hundredths of a second).
//
//   SessionHarness h;            // scripted port, no port chosen yet
//   h.init();                    // cmdInit: COM 1, 9600,N,8,1
//   h.port->replyToNext(1, "Vek,Orna,1,1.0\n>");
//   h.send("*idn?");             // the command entry's text, then Send
//   QCOMPARE(h.view.transcript, QByteArray("Sent *idn?\r\n..."));
//   QCOMPARE(h.state().cmdMode, QByteArray("SCPI"));

#include "exchange/BenchState.h"
#include "serial/ComPortMap.h"
#include "session/BenchSession.h"
#include "support/RecordingView.h"
#include "support/ScriptPort.h"

#include <memory>

class SimLinePort;
struct SimConfig;

class SessionHarness
{
public:
    // On a scripted port.
    SessionHarness();
    // On the in-process simulated converter with this configuration.
    explicit SessionHarness(const SimConfig &config);
    ~SessionHarness();
    SessionHarness(const SessionHarness &) = delete;
    SessionHarness &operator=(const SessionHarness &) = delete;

    RecordingView view;
    ScriptPort *port = nullptr;   // the scripted port (owned by the session), or null
    SimLinePort *sim = nullptr;   // the simulated converter's port, or null
    // The serial devices the system reports.
    QList<SystemDevice> devices{{"/dev/ttyS0", "built-in"}, {"/dev/ttyUSB0", "FT232R USB UART"}};
    ComPortMap map{[this] { return devices; }};
    std::unique_ptr<BenchSession> s;

    BenchState &state() { return s->state(); }
    // cmdInit choosing COM `number` with the settings; true when the port is open.
    bool init(int number = 1, const QString &settings = QStringLiteral("9600,N,8,1"));
    // The entry's text, then Send or Send Query.
    void send(const QByteArray &text);
    void query(const QByteArray &text);
    // The bytes written since the last call (scripted port), and forget them.
    QByteArray takeWritten();

private:
    void start(PortObject *port);
};
