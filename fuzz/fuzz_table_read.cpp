// SPDX-License-Identifier: MIT
// Command table read-back: "ASSIGN:ANSI? " slot queries one after another
// until an empty slot, a slot without answer, or slot 100.

#include "fuzz/FuzzWindow.h"

#include "cmdtable/ExampleTable.h"
#include "exchange/Protocol.h"

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    FuzzWindow &f = FuzzWindow::fresh();
    f.run(in, [&] { f.w->cmdRdCmdTable_Click(); });

    // Slot queries in order from 1, each once, never beyond the table.
    // Once the line is lost a query goes nowhere (and ends the reading).
    const QList<QByteArray> &w = f.port->playedWrites;
    const qsizetype asked = w.size() + f.port->closedWrites;
    FUZZ_CHECK(asked >= 1 && asked <= kTableSlots && f.port->closedWrites <= 1, f.port->written());
    for (qsizetype i = 0; i < w.size(); ++i)
        FUZZ_CHECK(w[i] == FrameScpi(TableQueryLine(int(i) + 1)), f.port->written());
    const QList<QByteArray> lines = f.w->resultsText().split('\n');
    FUZZ_CHECK(f.w->resultsText().startsWith("ANSI Command Table"), f.w->resultsText());
    // One line per slot answered (the listing), at most one per query.
    FUZZ_CHECK(lines.size() <= asked + 1, f.w->resultsText());
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", FUZZ_WAIT_FAILURES,
                                       "The COM port is closed: ..."}),
               f.w->errorText().toLatin1());
    return 0;
}
