#pragma once
// The built-in simulated converter as a choice of the port dialog: served on
// a pseudo-terminal inside the program, opened through the same serial code
// as hardware.

// Makes "Simulated Orna" available to the port mapping (COM 1 opens it when
// the system reports no serial device).
void installSimulatedLine();
