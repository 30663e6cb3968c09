// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

// Back to SCPI: the escape "@@@" (no terminator, no answer awaited), then the
// window is set up for SCPI work. A write the port did not take is reported
// and the mode stays as it was.
void frmMain::cmdSCPI_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    RunActs(ScpiButtonActs(), *this);
}

// The X3.28 disconnect message DLE ENQ; the program is in X3.28 mode after it.
void frmMain::cmdDisconnect_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (!requirePort())
        return;
    if (!drainInput())
        return;
    RunActs(DisconnectActs(), *this);
}

// Xon/Xoff mode for the program alone; nothing is written. Refused while an
// operation runs: a table load or a loop tick would go on in another language.
void frmMain::cmdXonXoff_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    applyView(ModeView::XonXoffButton);
}
