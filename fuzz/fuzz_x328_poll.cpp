// SPDX-License-Identifier: MIT
// X3.28 poll on an open link: query block, ACK, EOT, data block, optionally
// one NAK for a repeat, ACK, closing EOT. Bit 0 of the options byte ticks
// "Send one NAK for Data", bit 1 "Display Character Count".

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QCheckBox>
#include <QComboBox>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    static const char *const texts[] = {"C1", "SP1", "ID"};
    const QByteArray text = texts[in.pick % std::size(texts)];
    const bool nak = in.options & 1;
    FuzzWindow &f = FuzzWindow::fresh();
    f.openLink();
    f.w->combQuery->setEditText(QString::fromLatin1(text));
    f.w->ckNAK->setChecked(nak);
    f.w->ckByteCnt->setChecked(in.options & 2);
    f.run(in, [&] { f.w->cmdQuery_Click(); });

    // The host's side of the handshake, whatever the peer does: the poll,
    // then EOT, then at most one NAK (only when asked for), then ACK.
    const QList<QByteArray> &w = f.port->playedWrites;
    const QByteArray all = f.port->written();
    FUZZ_CHECK(w.isEmpty() ? !f.port->PortOpen() : w[0] == FramePoll(text), all);
    FUZZ_CHECK(w.size() <= (nak ? 4 : 3), all);
    if (w.size() > 1)
        FUZZ_CHECK(w[1] == QByteArray(1, Ctl::EOT), all);
    if (w.size() == 3)
        FUZZ_CHECK(w[2] == QByteArray(1, Ctl::ACK) || (nak && w[2] == QByteArray(1, Ctl::NAK)), all);
    if (w.size() == 4)
        FUZZ_CHECK(w[2] == QByteArray(1, Ctl::NAK) && w[3] == QByteArray(1, Ctl::ACK), all);
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", "STX not first character in the buffer",
                                       "Receive timeout error - no EOT from UUT",
                                       "Receive buffer has more than one character", FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    // A completed poll ends with the EOT line and no error.
    if (f.w->resultsText().endsWith("Received EOT"))
        FUZZ_CHECK(!f.w->errorShown() && w.last() == QByteArray(1, Ctl::ACK), all);
    return 0;
}
