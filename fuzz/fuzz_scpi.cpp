// SPDX-License-Identifier: MIT
// SCPI command and query: the text with LF, then the reply line or the prompt,
// whatever the peer sends and however it is split over the polls.

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QComboBox>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"*idn?", "*RST", "SYST:ERR?", "ASSIGN:ANSI?  1", "*ESR?", "OUTP 1"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzWindow &f = FuzzWindow::fresh();
    f.w->combCmd->setEditText(QString::fromLatin1(text));
    f.run(in, [&] { f.w->cmdSend_Click(); });

    FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{FrameScpi(text)}), f.port->written());
    const bool query = text.contains('?');
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", "Prompt not found.",
                                       FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    if (f.w->errorShown())
        return 0;
    // Answered: the wait ended with the poll that brought the terminator, so
    // everything delivered after the write is the receive buffer.
    const QByteArray buffer = f.port->afterFirstWrite;
    QByteArray expected = "Sent " + text;
    if (query) {
        FUZZ_CHECK(buffer.contains('\n'), buffer);
        const QByteArray reply = buffer.left(buffer.indexOf('\n'));
        FUZZ_CHECK(f.w->Rdg == reply, f.w->Rdg);
        expected += "\r\n" + reply;
        if (buffer.contains('>'))
            expected += "\r\nPrompt received";
    } else {
        FUZZ_CHECK(buffer.contains('>'), buffer);
        expected += "\r\nPrompt received";
    }
    FUZZ_CHECK(f.w->resultsText() == expected, f.w->resultsText());
    return 0;
}
