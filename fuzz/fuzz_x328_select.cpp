// SPDX-License-Identifier: MIT
// X3.28 selection: STX "= " text ETX, then ACK or NAK, ACK winning wherever
// it stands.

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"SP1 100", "SP1 -5.5", "C1", ""};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    f.run(in, h, [&] { f.exchange(h, *SelectExchange(text)); });

    FUZZ_CHECK(fuzzWritesAre(f, QList<QByteArray>{FrameSelect(text)}), f.port.written());
    FUZZ_CHECK(h.views.isEmpty() && !h.linkOpened, "a selection changed the mode");
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT"}), h.error.toLatin1());
    if (!h.clean())
        return 0;
    const QByteArray buffer = f.port.afterFirstWrite();
    const qint64 ack = PositionOf(buffer, Ctl::ACK);
    const qint64 nak = PositionOf(buffer, Ctl::NAK);
    FUZZ_CHECK(ack > 0 || nak > 0, buffer);
    const QByteArray expected = ack > 0 ? "Received Characters: " + ListCodes(buffer, ack) + "\r\nReceived ACK"
                                        : "Received Characters: " + ListCodes(buffer, nak) + "\r\nReceived NAK";
    FUZZ_CHECK(h.transcript == expected, h.transcript);
    FUZZ_CHECK(h.beeps == (ack > 0 ? 0 : 1), QByteArray::number(h.beeps));
    return 0;
}
