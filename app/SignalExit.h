// SPDX-License-Identifier: MIT
#pragma once
// SIGTERM, SIGINT and SIGHUP end the window the way its Exit button does,
// after the exchange in progress (a modal dialog or question is answered as
// by Escape first): the port is closed, the log finished, the device's lock
// released.

class ExitSignals;
class frmMain;

void exitOnSignals(ExitSignals &source, frmMain &window);
