// SPDX-License-Identifier: MIT
#pragma once
// The converter's ANSI command table: loading the example entries and
// reading the table back, each as SCPI lines through the send action. The
// caller holds the line for the whole operation: clicks are refused and
// loop ticks skipped until it ends.

#include "exchange/BenchView.h"

#include <optional>

class OperationHost;

// cmdLdCmdTable: asks EZ-Zone (Yes) or F4 (No), unless `answer` is given,
// writes the three example entries into slots 1 to 3, then judges the load
// by the converter's event status ("*ESR?"). Returns the answer it went by,
// or nothing when it stopped before the question.
std::optional<BenchView::Answer> LoadExampleTable(OperationHost &host,
                                                  std::optional<BenchView::Answer> answer = std::nullopt);
// cmdRdCmdTable: lists the table slot by slot until the first empty slot or
// slot 100.
void ReadCommandTable(OperationHost &host);
