// SPDX-License-Identifier: MIT
#pragma once
// The example ANSI command tables and the SCPI lines that write and read the
// converter's table slots.

#include <QByteArray>

#include <array>
#include <functional>

// Three entries for slots 1 to 3: an X3.28 mnemonic and four register numbers.
using ExampleTable = std::array<const char *, 3>;

inline constexpr ExampleTable kEzZoneTable = {"SP1,2160,2160,6,0", "C1,360,0,4,0", "SP9,0,0,12,0"};
inline constexpr ExampleTable kF4Table = {"SP1,300,300,3,1", "C1,100,0,1,1", "ID,0,0,1,1"};

// The converter's table has this many slots.
inline constexpr int kTableSlots = 100;
// Reply of an empty slot; it ends a read-back wherever it stands in the reply.
inline constexpr char kEmptySlotMark[] = "0,0,0,0";

// "ASSIGN:ANSI " + slot with its sign place + "," + entry.
QByteArray TableAssignLine(int slot, const QByteArray &entry);
// "ASSIGN:ANSI? " + slot with its sign place.
QByteArray TableQueryLine(int slot);

// What asking one slot brought: its reply line, or none; and whether the
// read-back cannot go on (the line closed or flooded, the program ending).
struct TableSlotReply
{
    bool answered = false;
    QByteArray line;
    bool stop = false;
};
// The read-back: asks slot 1, 2, ... through `ask` until the first empty
// slot or slot kTableSlots, and returns the listing ("ANSI Command Table",
// then one line per slot, joined by CR LF). A slot without an answer is
// listed as such and the next one is asked, unless the read-back must stop.
QByteArray ReadBackTable(const std::function<TableSlotReply(int slot)> &ask);
