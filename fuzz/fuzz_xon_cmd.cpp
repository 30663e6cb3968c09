// SPDX-License-Identifier: MIT
// Xon/Xoff device command: "= " text CR, then XOFF, XON or CR; a lone XOFF
// holds off and the wait starts again.

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"SP1 100", "SP1 -3", "C1"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    f.run(in, h, [&] { f.exchange(h, *XonCommandExchange(text)); });

    FUZZ_CHECK(fuzzWritesAre(f, QList<QByteArray>{FrameXonCmd(text)}), f.port.written());
    FUZZ_CHECK(h.views.isEmpty(), "a device command changed the mode");
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT"}), h.error.toLatin1());
    if (!h.clean())
        return 0;
    // No wait failed: the replies went through the waits one after another.
    const XonOutcome o = fuzzXonOutcome(f.port.chunksAfterFirstWrite, QByteArray("\x13\x11\r"));
    const QByteArray first = o.holdOffs > 0 ? QByteArray("Received <xoff> -waiting for next string") : "Sent " + text;
    FUZZ_CHECK(h.transcript == first + "\r\nReceived Characters: " + ListNames(o.last), h.transcript);
    FUZZ_CHECK(h.waitPolls.size() == o.holdOffs + 1 && h.beeps == 0, h.transcript);
    return 0;
}
