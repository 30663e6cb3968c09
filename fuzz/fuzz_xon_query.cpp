// SPDX-License-Identifier: MIT
// Xon/Xoff query: "? " text CR, then a reply line ending in CR; a lone XOFF
// holds off, a lone CR is reported.

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QComboBox>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"C1", "SP1", "ID"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzWindow &f = FuzzWindow::fresh();
    f.w->cmdXonXoff_Click();
    f.w->combQuery->setEditText(QString::fromLatin1(text));
    const int beepsBefore = f.seams.beeps;
    f.run(in, [&] { f.w->cmdQuery_Click(); });

    FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{FrameXonQuery(text)}), f.port->written());
    FUZZ_CHECK(fuzzModeAfter(*f.w, *f.port, "XonXoff"), f.w->cmdMode);
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    if (f.w->errorShown())
        return 0;
    const XonOutcome o = fuzzXonOutcome(f.port->chunksAfterFirstWrite, QByteArray("\x13\r"));
    const QByteArray first = o.holdOffs > 0 ? QByteArray("Received Xoff-waiting for next string") : "Sent " + text;
    const bool loneCr = o.last == "\r";
    const QByteArray expected = loneCr ? first + "\r\nReceived Characters: 13 \r\nDid not receive an ACK or a NAK"
                                       : first + "\r\nReceived Characters: " + ListNames(o.last);
    FUZZ_CHECK(f.w->resultsText() == expected, f.w->resultsText());
    FUZZ_CHECK(f.seams.beeps - beepsBefore == (loneCr ? 1 : 0), QByteArray::number(f.seams.beeps - beepsBefore));
    return 0;
}
