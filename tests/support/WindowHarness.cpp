#include "support/WindowHarness.h"

#include "serial/PortSelection.h"
#include "serial/frmPorts.h"

WindowHarness::WindowHarness()
{
    resetPortSelection();
    port = new ScriptPort;
    w = std::make_unique<frmMain>(port, &seams);
    w->pollPacingMicros = 0;
}

WindowHarness::~WindowHarness()
{
    w.reset();
    resetPortSelection();
}

void WindowHarness::init(int number)
{
    seams.dialog = [number](frmPorts &d) {
        d.cmdCOM_Click(number);
        d.cmdExit_Click();
    };
    w->cmdInit_Click();
    seams.dialog = nullptr;
}

QByteArray WindowHarness::takeWritten()
{
    const QByteArray all = port->written();
    port->writes.clear();
    return all;
}
