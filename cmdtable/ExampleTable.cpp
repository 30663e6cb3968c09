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

QByteArray ReadBackTable(const std::function<TableSlotReply(int slot)> &ask)
{
    QByteArray listing = "ANSI Command Table";
    for (int slot = 1; slot <= kTableSlots; ++slot) {
        const TableSlotReply r = ask(slot);
        if (!r.answered) {
            // A line of its own that cannot pass for an entry; the error box
            // keeps the exchange's own report (timeout, lost line).
            listing += "\r\nslot " + QByteArray::number(slot) + ": no answer";
            if (r.stop) {
                listing += ", reading stopped";
                break;
            }
            continue;
        }
        if (r.line.contains(kEmptySlotMark))
            break;
        // Each reply line is followed by the converter's prompt. At the line
        // rate that prompt may come only after the next slot's query went
        // out, and then stands in front of the next reply: it is no part of
        // the entry.
        QByteArray entry = r.line;
        if (entry.startsWith(kPrompt))
            entry.remove(0, qsizetype(qstrlen(kPrompt)));
        listing += "\r\n" + entry;
    }
    return listing;
}
