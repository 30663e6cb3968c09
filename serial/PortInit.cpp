// SPDX-License-Identifier: MIT
#include "serial/PortInit.h"

#include "serial/PortObject.h"

QString OpenChosenPort(PortObject &port, const PortChoice &choice)
{
    port.CommPort(choice.number);
    if (choice.settings.isEmpty())
        return QStringLiteral("COM %1 not opened: no line settings were chosen").arg(choice.number);
    if (!port.Settings(choice.settings))
        return QStringLiteral("COM %1 not opened: %2").arg(choice.number).arg(port.errorText());
    port.InputLen(0);
    if (!port.PortOpen(true))
        return port.errorText();
    port.RTSEnable(true);
    port.DTREnable(true);
    return {};
}
