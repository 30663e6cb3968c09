// SPDX-License-Identifier: MIT
#include "serial/PortSelection.h"

int CommPortNum = 0;
QString PortSettings;

void resetPortSelection()
{
    CommPortNum = 0;
    PortSettings.clear();
}

PortChoice currentPortChoice()
{
    return {CommPortNum, PortSettings};
}
