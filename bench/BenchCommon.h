// SPDX-License-Identifier: MIT
#pragma once
// Shared pieces of the benchmark programs: desktop stand-ins that choose the
// line without a dialog, the real window on a given device, and the figures
// every benchmark reads (clocks, processor time, resident memory).

#include "app/UiSeams.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <vector>

class frmMain;
class QApplication;

namespace bench {

using Clock = std::chrono::steady_clock;

// The port dialog answered at once: COM 1 at the chosen rate, 8N1. Beeps
// are counted (each failure the window reports beeps once).
struct QuietSeams : UiSeams
{
    int baudIndex = 4; // 0 "1200" .. 4 "38400"
    long long beeps = 0;
    QString folder; // the answer when a folder is asked for
    QString askFolder(QWidget *, const QString &) override { return folder; }
    void beep() override { ++beeps; }
    void runPortsDialog(frmPorts &d) override;
    void endProgram() override {}
};

// Sets the offscreen platform unless one is chosen, so no display is needed.
void useOffscreenPlatform();
// Points COM 1 at the device and runs the window's own port initialisation.
// False (with a message on stderr) when the port did not open.
bool openLine(frmMain &w, const QString &device);
// Lets the window run its events for a while, then drops pending input.
void settle(frmMain &w, int milliseconds);
// X3.28 mode and the link to address 1 through the window's own handlers;
// the link opening is tried up to the given number of times (a far end with
// faults may spoil one).
bool enterX328(frmMain &w, int attempts = 1);
// Back to SCPI through the escape typed as a device command.
void leaveX328(frmMain &w);

double seconds(Clock::duration d);
// Processor time of the whole process (user + system), in seconds, as the
// system reports it to getrusage() (and to top, ps and time).
double cpuSeconds();
// VmRSS of this process in KiB, 0 when unknown.
long long residentKiB();

double median(std::vector<double> v);
double percentile(std::vector<double> v, double p);

} // namespace bench
