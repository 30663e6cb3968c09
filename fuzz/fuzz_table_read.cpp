// SPDX-License-Identifier: MIT
// Command table read-back: "ASSIGN:ANSI? " slot queries one after another
// until an empty slot, a slot without answer that ends the line, or slot 100,
// each an SCPI exchange as the window runs it.

#include "fuzz/FuzzLine.h"

#include "cmdtable/ExampleTable.h"
#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    QByteArray listing;
    int answered = 0;
    f.run(in, h, [&] {
        listing = ReadBackTable([&](int slot) {
            const qsizetype repliesBefore = h.replies.size();
            const qsizetype failuresBefore = h.failures.size();
            f.exchange(h, *ScpiExchange(TableQueryLine(slot)));
            TableSlotReply r;
            r.answered = h.replies.size() != repliesBefore;
            r.line = h.replies.value(h.replies.size() - 1);
            answered += r.answered;
            // As the window judges it: the line gone, flooded or ending.
            r.stop = f.lock.stopWaits() || !f.port.PortOpen() ||
                     h.failures.mid(failuresBefore).contains(RxStatus::Overflow);
            return r;
        });
    });

    // Slot queries in order from 1, each once, never beyond the table; no
    // query once the line is lost or the program is to end.
    const QList<QByteArray> &w = f.port.playedWrites;
    FUZZ_CHECK(w.size() >= (f.port.PortOpen() && !f.exitAsked ? 1 : 0) && w.size() <= kTableSlots, f.port.written());
    for (qsizetype i = 0; i < w.size(); ++i)
        FUZZ_CHECK(w[i] == FrameScpi(TableQueryLine(int(i) + 1)), f.port.written());
    FUZZ_CHECK(listing.startsWith("ANSI Command Table"), listing);
    // One line per slot asked (an entry or "no answer"), none after an empty slot.
    const QList<QByteArray> lines = listing.split('\n');
    FUZZ_CHECK(lines.size() <= w.size() + 2, listing);
    FUZZ_CHECK(answered <= w.size(), listing);
    if (listing.endsWith(", reading stopped"))
        FUZZ_CHECK(!f.port.PortOpen() || f.exitAsked || h.failures.contains(RxStatus::Overflow), listing);
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT", "Prompt not found."}),
               h.error.toLatin1());
    return 0;
}
