// SPDX-License-Identifier: MIT
#pragma once
// The built-in simulated converter as a choice of the port dialog: served on
// a pseudo-terminal on a thread of its own inside the program, and opened
// through the same serial code as hardware.

class SimHost;

// Makes "Simulated Orna" available to the port mapping (COM 1 opens it when
// the system reports no serial device).
void installSimulatedLine();
// The simulator behind the line, created on first use; for its fault
// switches and settings. Null until installSimulatedLine() has run.
SimHost *simulatedLineHost();
// Stops the simulator and forgets it (at the end of the program or a test).
void removeSimulatedLine();
