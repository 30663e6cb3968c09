// SPDX-License-Identifier: MIT
// X3.28 selection on an open link: STX "= " text ETX, then ACK or NAK, ACK
// winning wherever it stands.

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QComboBox>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"SP1 100", "SP1 -5.5", "C1", "@@@"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    FuzzWindow &f = FuzzWindow::fresh();
    f.openLink();
    f.w->combCmd->setEditText(QString::fromLatin1(text));
    f.run(in, [&] { f.w->cmdSend_Click(); });

    if (text == "@@@") {
        FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{"@@@"}), f.port->written());
        FUZZ_CHECK(f.w->cmdMode == "SCPI", f.w->cmdMode);
        return 0;
    }
    FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{FrameSelect(text)}), f.port->written());
    FUZZ_CHECK(fuzzModeAfter(*f.w, *f.port, "X3.28"), f.w->cmdMode);
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    if (f.w->errorShown())
        return 0;
    const QByteArray buffer = f.port->afterFirstWrite;
    const qint64 ack = PositionOf(buffer, Ctl::ACK);
    const qint64 nak = PositionOf(buffer, Ctl::NAK);
    FUZZ_CHECK(ack > 0 || nak > 0, buffer);
    const QByteArray expected = ack > 0 ? "Received Characters: " + ListCodes(buffer, ack) + "\r\nReceived ACK"
                                        : "Received Characters: " + ListCodes(buffer, nak) + "\r\nReceived NAK";
    FUZZ_CHECK(f.w->resultsText() == expected, f.w->resultsText());
    return 0;
}
