// SPDX-License-Identifier: MIT
// X3.28 link open (cmdSet): the address check, address and ENQ, then the ACK
// with at most one address character before it.

#include "fuzz/FuzzWindow.h"

#include "exchange/Protocol.h"

#include <QLineEdit>

FUZZ_TARGET_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput in = FuzzInput::parse(data, size);
    // Typed address and what goes on the line before ENQ (empty: refused).
    static const struct
    {
        const char *typed;
        const char *line;
    } addresses[] = {{"5", "5"},  {"0", "0"},  {"10", "A"}, {"32", "W"}, {"33", ""},
                     {"-1", ""},  {"abc", ""}, {"1e1", "A"}, {" 7", " 7"}};
    const auto &a = addresses[in.pick % std::size(addresses)];
    const QByteArray typed = a.typed;
    const QByteArray line = a.line;
    FuzzWindow &f = FuzzWindow::fresh();
    f.w->txtAddr->setText(QString::fromLatin1(typed));
    f.run(in, [&] { f.w->cmdSet_Click(); });

    if (line.isEmpty()) {
        FUZZ_CHECK(f.port->playedWrites.isEmpty(), f.port->written());
        FUZZ_CHECK(f.w->errorText() == QLatin1String("Address value not 0 to 32, re-enter"), f.w->errorText().toLatin1());
        FUZZ_CHECK(!f.w->AddrSetFlg, "link open without an address");
        return 0;
    }
    FUZZ_CHECK(fuzzWritesAre(*f.port, QList<QByteArray>{line + Ctl::ENQ}), f.port->written());
    FUZZ_CHECK(fuzzErrorIsOneOf(*f.w, {"Receive timeout error - no response from UUT", FUZZ_WAIT_FAILURES}),
               f.w->errorText().toLatin1());
    if (f.w->errorShown()) {
        FUZZ_CHECK(!f.w->AddrSetFlg && f.w->cmdMode == "SCPI", f.w->cmdMode);
        return 0;
    }
    const QByteArray buffer = f.port->afterFirstWrite;
    const qint64 p = PositionOf(buffer, Ctl::ACK);
    FUZZ_CHECK(p > 0, buffer);
    if (p >= 3) {
        FUZZ_CHECK(!f.w->AddrSetFlg && f.w->cmdMode == "SCPI", f.w->cmdMode);
        FUZZ_CHECK(f.w->resultsText() == "Received " + ListCodes(buffer, p), f.w->resultsText());
    } else {
        FUZZ_CHECK(f.w->AddrSetFlg && f.w->cmdMode == "X3.28", f.w->cmdMode);
        FUZZ_CHECK(f.w->resultsText() == "Received " + buffer.left(p - 1) + " ACK\r\nDevice address set to " + typed,
                   f.w->resultsText());
    }
    return 0;
}
