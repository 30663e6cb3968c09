// SPDX-License-Identifier: MIT
// X3.28 link open (cmdSet): the address check, address and ENQ, then the ACK
// with at most one address character before it.

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    // Typed address and what goes on the line before ENQ (empty: refused).
    static const struct
    {
        const char *typed;
        const char *line;
    } addresses[] = {{"5", "5"},  {"0", "0"},  {"10", "A"}, {"32", "W"}, {"33", ""},
                     {"-1", ""},  {"abc", ""}, {"1e1", "A"}, {" 7", " 7"}};
    const auto &a = addresses[in.pick % std::size(addresses)];
    const QByteArray typed = a.typed;
    const QByteArray line = a.line;
    const std::optional<QByteArray> address = LinkAddress(typed);
    FUZZ_CHECK(address.value_or(QByteArray()) == line, address.value_or("(refused)"));
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    f.run(in, h, [&] {
        if (address)
            f.exchange(h, *LinkOpenExchange(*address, typed));
    });

    if (!address) {
        FUZZ_CHECK(f.port.playedWrites.isEmpty(), f.port.written());
        return 0;
    }
    FUZZ_CHECK(fuzzWritesAre(f, QList<QByteArray>{line + Ctl::ENQ}), f.port.written());
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT"}), h.error.toLatin1());
    if (!h.clean()) {
        FUZZ_CHECK(!h.linkOpened && h.views.isEmpty(), "link open after a failure");
        return 0;
    }
    const QByteArray buffer = f.port.afterFirstWrite();
    const qint64 p = PositionOf(buffer, Ctl::ACK);
    FUZZ_CHECK(p > 0, buffer);
    if (p >= 3) {
        FUZZ_CHECK(!h.linkOpened && h.views.isEmpty(), "link open after two bytes before the ACK");
        FUZZ_CHECK(h.transcript == "Received " + ListCodes(buffer, p), h.transcript);
    } else {
        FUZZ_CHECK(h.linkOpened && h.views == QList<ModeView>{ModeView::LinkOpen}, "link not open after the ACK");
        FUZZ_CHECK(h.transcript == "Received " + buffer.left(p - 1) + " ACK\r\nDevice address set to " + typed,
                   h.transcript);
    }
    return 0;
}
