// SPDX-License-Identifier: MIT
#pragma once
// The port choice made in the settings dialog. Program-wide: written by
// frmPorts, read by cmdInit and cmdExit of the main window; kept in memory
// for the life of the program, never saved.

#include <QString>

extern int CommPortNum;      // chosen port number 1..6; 0 means none chosen
extern QString PortSettings; // e.g. "9600,N,8,1"; empty until the dialog is first left by its button

// Back to the start-up state (no port chosen, no settings text).
void resetPortSelection();

// A port choice as a value: the port number (0: none) and the settings text.
struct PortChoice
{
    int number = 0;
    QString settings;
};
// The choice the dialog holds now (CommPortNum and PortSettings).
PortChoice currentPortChoice();
