// SPDX-License-Identifier: MIT
// X3.28 poll: query block, ACK, EOT, data block, optionally one NAK for a
// repeat, ACK, closing EOT. Bit 0 of the options byte ticks "Send one NAK
// for Data", bit 1 "Display Character Count".

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"C1", "SP1", "ID"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    const bool nak = in.options & 1;
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    PollOptions options;
    // The option as the window holds it: ticked until the exchange uses it.
    options.oneNak = [&] { return nak && h.nakUsed == 0; };
    options.byteCount = [&] { return bool(in.options & 2); };
    f.run(in, h, [&] { f.exchange(h, *PollExchange(text, options)); });

    // The host's side of the handshake, whatever the peer does: the poll,
    // then EOT, then at most one NAK (only when asked for), then ACK.
    const QList<QByteArray> &w = f.port.playedWrites;
    const QByteArray all = f.port.written();
    FUZZ_CHECK(w.isEmpty() ? !f.port.PortOpen() : w[0] == FramePoll(text), all);
    FUZZ_CHECK(w.size() <= (nak ? 4 : 3), all);
    if (w.size() > 1)
        FUZZ_CHECK(w[1] == QByteArray(1, Ctl::EOT), all);
    if (w.size() == 3)
        FUZZ_CHECK(w[2] == QByteArray(1, Ctl::ACK) || (nak && w[2] == QByteArray(1, Ctl::NAK)), all);
    if (w.size() == 4)
        FUZZ_CHECK(w[2] == QByteArray(1, Ctl::NAK) && w[3] == QByteArray(1, Ctl::ACK), all);
    // The NAK went out exactly when the option was used.
    FUZZ_CHECK(h.nakUsed == int(w.contains(QByteArray(1, Ctl::NAK))), all);
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT", "STX not first character in the buffer",
                               "Receive timeout error - no EOT from UUT", "Receive buffer has more than one character"}),
               h.error.toLatin1());
    FUZZ_CHECK(h.outStr == w.value(w.size() - 1), h.outStr);
    // A completed poll ends with the EOT line and no error.
    if (h.transcript.endsWith("Received EOT"))
        FUZZ_CHECK(h.clean() && w.last() == QByteArray(1, Ctl::ACK), all);
    // The byte count only when asked for.
    if (!(in.options & 2))
        FUZZ_CHECK(!h.transcript.contains("Byte Count= "), h.transcript);
    return 0;
}
