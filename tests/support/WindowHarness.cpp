// SPDX-License-Identifier: MIT
#include "support/WindowHarness.h"

#include "serial/PortSelection.h"
#include "serial/frmPorts.h"

#include <QLabel>

namespace {
// The port number as the program starts, read at load time, before any test
// can have changed it (its initial value is a constant, set before any code
// runs). Every harness starts from it, so that a fresh window sees what a
// fresh program sees, whatever the test before it chose.
const int kStartPortNum = CommPortNum;
} // namespace

WindowHarness::WindowHarness()
{
    resetPortSelection();
    CommPortNum = kStartPortNum;
    port = new ScriptPort;
    w = std::make_unique<frmMain>(port, &seams, &map);
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
    QByteArray all = port->written();
    port->writes.clear();
    return all;
}

void WindowHarness::script(const QList<Reply> &replies)
{
    port->script(replies);
}

QString WindowHarness::labels() const
{
    return QStringLiteral("SCPI:%1 X3.28:%2 XonXoff:%3")
        .arg(!w->lblSCPI->isHidden())
        .arg(!w->lblX328->isHidden())
        .arg(!w->lblXOnXoff->isHidden());
}
