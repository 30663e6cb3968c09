// SPDX-License-Identifier: MIT
#pragma once
// The example ANSI command tables and the SCPI lines that write and read the
// converter's table slots.

#include <QByteArray>

#include <array>

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
