// SPDX-License-Identifier: MIT
#pragma once
// The real main window, headless, on a scripted port with fake desktop seams.

#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "support/FakeSeams.h"
#include "support/ScriptPort.h"

#include <memory>

struct WindowHarness
{
    ScriptPort *port = nullptr; // owned by the window
    FakeSeams seams;
    // The serial devices the system reports, as the port dialog reads them.
    QList<SystemDevice> devices{{"/dev/ttyS0", "built-in"}, {"/dev/ttyUSB0", "FT232R USB UART"}};
    ComPortMap map{[this] { return devices; }};
    std::unique_ptr<frmMain> w;

    // A fresh window with no port chosen; polls are not paced, so a full
    // 30000-poll wait takes a few hundredths of a second.
    WindowHarness();
    ~WindowHarness();

    // Runs cmdInit with the dialog choosing COM `number` and leaving by its button.
    void init(int number = 1);
    // The bytes written since the last call, and forget them.
    QByteArray takeWritten();

    QByteArray transcript() const { return w->resultsText(); }
    // Schedules replies relative to the writes still to come.
    void script(const QList<Reply> &replies);
    // Which mode labels show, e.g. "SCPI:false X3.28:true XonXoff:true".
    QString labels() const;
};
