// SPDX-License-Identifier: MIT
// SCPI command and query: the text with LF, then the reply line or the prompt,
// whatever the peer sends and however it is split over the polls.

#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"*idn?", "*RST", "SYST:ERR?", "ASSIGN:ANSI?  1", "*ESR?", "OUTP 1"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzLine &f = FuzzLine::fresh();
    FuzzHost h(f);
    f.run(in, h, [&] { f.exchange(h, *ScpiExchange(text)); });

    FUZZ_CHECK(fuzzWritesAre(f, QList<QByteArray>{FrameScpi(text)}), f.port.written());
    const bool query = text.contains('?');
    FUZZ_CHECK(h.errorIsOneOf({"Receive timeout error - no response from UUT", "Prompt not found."}),
               h.error.toLatin1());
    if (!h.clean())
        return 0;
    // Answered: the wait ended with the poll that brought the terminator, so
    // everything delivered after the write is the receive buffer.
    const QByteArray buffer = f.port.afterFirstWrite();
    QByteArray expected = "Sent " + text;
    if (query) {
        FUZZ_CHECK(buffer.contains('\n'), buffer);
        const QByteArray reply = buffer.left(buffer.indexOf('\n'));
        FUZZ_CHECK(h.replies == QList<QByteArray>{reply}, h.replies.value(0));
        expected += "\r\n" + reply;
        if (buffer.contains('>'))
            expected += "\r\nPrompt received";
    } else {
        FUZZ_CHECK(buffer.contains('>') && h.replies.isEmpty(), buffer);
        expected += "\r\nPrompt received";
    }
    FUZZ_CHECK(h.transcript == expected, h.transcript);
    FUZZ_CHECK(h.outStr == FrameScpi(text) && h.beeps == 0, h.outStr);
    return 0;
}
