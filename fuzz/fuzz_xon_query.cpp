// SPDX-License-Identifier: MIT
// Xon/Xoff query: "? " text CR, then a reply line ending in CR; a lone XOFF
// holds off, a lone CR is reported.

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"C1", "SP1", "ID"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    f.run(in, h, [&] { f.exchange(h, *XonQueryExchange(text)); });

    FUZZ_CHECK(fuzzWritesAre(f, QList<QByteArray>{FrameXonQuery(text)}), f.port.written());
    FUZZ_CHECK(h.views.isEmpty(), "a query changed the mode");
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT"}), h.error.toLatin1());
    if (!h.clean())
        return 0;
    const XonOutcome o = fuzzXonOutcome(f.port.chunksAfterFirstWrite, QByteArray("\x13\r"));
    const QByteArray first = o.holdOffs > 0 ? QByteArray("Received Xoff-waiting for next string") : "Sent " + text;
    const bool loneCr = o.last == "\r";
    const QByteArray expected = loneCr ? first + "\r\nReceived Characters: 13 \r\nDid not receive an ACK or a NAK"
                                       : first + "\r\nReceived Characters: " + ListNames(o.last);
    FUZZ_CHECK(h.transcript == expected, h.transcript);
    FUZZ_CHECK(h.beeps == (loneCr ? 1 : 0), QByteArray::number(h.beeps));
    return 0;
}
