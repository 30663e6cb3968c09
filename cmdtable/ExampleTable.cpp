// SPDX-License-Identifier: MIT
#include "cmdtable/ExampleTable.h"

#include "exchange/Protocol.h"

QByteArray TableAssignLine(int slot, const QByteArray &entry)
{
    return "ASSIGN:ANSI " + SignedNumberText(slot) + ',' + entry;
}

QByteArray TableQueryLine(int slot)
{
    return "ASSIGN:ANSI? " + SignedNumberText(slot);
}
