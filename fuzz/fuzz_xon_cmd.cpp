// SPDX-License-Identifier: MIT
// Xon/Xoff device command: "= " text CR, then XOFF, XON or CR; a lone XOFF
// holds off and the wait starts again.

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QComboBox>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"SP1 100", "SP1 -3", "@@@"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzWindow &f = FuzzWindow::fresh();
    f.w->cmdXonXoff_Click();
    f.w->combCmd->setEditText(QString::fromLatin1(text));
    f.run(in, [&] { f.w->cmdSend_Click(); });

    if (text == "@@@") {
        FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{"@@@"}), f.port->written());
        FUZZ_CHECK(f.w->cmdMode == "SCPI", f.w->cmdMode);
        return 0;
    }
    FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{FrameXonCmd(text)}), f.port->written());
    FUZZ_CHECK(fuzzModeAfter(*f.w, *f.port, "XonXoff"), f.w->cmdMode);
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    if (f.w->errorShown())
        return 0;
    // No wait failed: the replies went through the waits one after another.
    const XonOutcome o = fuzzXonOutcome(f.port->chunksAfterFirstWrite, QByteArray("\x13\x11\r"));
    const QByteArray first = o.holdOffs > 0 ? QByteArray("Received <xoff> -waiting for next string") : "Sent " + text;
    FUZZ_CHECK(f.w->resultsText() == first + "\r\nReceived Characters: " + ListNames(o.last), f.w->resultsText());
    return 0;
}
