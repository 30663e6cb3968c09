// SPDX-License-Identifier: MIT
#pragma once
// Opening the line with the port dialog's choice: the port number, the
// settings text, all input at every read, RTS and DTR asserted. Sends
// nothing.

#include "serial/PortSelection.h"

#include <QString>

class PortObject;

// Opens the chosen port; empty when it opened, otherwise the message for
// the error box (the port stays closed). The choice must name a port.
QString OpenChosenPort(PortObject &port, const PortChoice &choice);
