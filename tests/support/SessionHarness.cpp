// SPDX-License-Identifier: MIT
#include "support/SessionHarness.h"

#include "serial/PortSelection.h"
#include "sim/SimLinePort.h"

SessionHarness::SessionHarness()
{
    port = new ScriptPort;
    start(port);
}

SessionHarness::SessionHarness(const SimConfig &config)
{
    sim = new SimLinePort(config);
    start(sim);
}

void SessionHarness::start(PortObject *line)
{
    resetPortSelection();
    s = std::make_unique<BenchSession>(line, map, view);
    s->pollPacingMicros = 0;
    s->load();
}

SessionHarness::~SessionHarness()
{
    s.reset();
    resetPortSelection();
}

bool SessionHarness::init(int number, const QString &settings)
{
    s->init([&] {
        // As the port dialog leaves the choice.
        CommPortNum = number;
        PortSettings = settings;
        return currentPortChoice();
    });
    return s->port().PortOpen();
}

void SessionHarness::send(const QByteArray &text)
{
    view.command = text;
    s->send();
}

void SessionHarness::query(const QByteArray &text)
{
    view.query = text;
    s->query();
}

QByteArray SessionHarness::takeWritten()
{
    QByteArray all = port ? port->written() : QByteArray();
    if (port)
        port->writes.clear();
    return all;
}
