// SPDX-License-Identifier: MIT
// The stand-in converter's protocol engine fed arbitrary host bytes at
// arbitrary (non-decreasing) times, with fault switches, line formats and
// table entries changed on the way.
//
// Input: byte 0 picks the start (bit 0: 7-bit line, bit 1: F4 start table,
// bit 2: empty start table), then operations until the input ends:
//   0x00..0x7F  n = the byte: one time step byte, then n host bytes
//   0x80..0x9F  one time step byte, then take what is due
//   0xA0..0xAF  nine trigger bytes and one size byte: new fault switches
//   0xB0        turn-around from the next byte (ms)
//   0xB1        Xon/Xoff busy time from the next byte (ms)
//   0xB2        line format: baud index and format index bytes
//   0xB3        table entry: slot byte and a 3-byte mnemonic
//   0xB4        take everything still queued
//   0xB5..0xFF  one byte: a long pause (up to 255 s)
// Time steps: byte v advances the clock by (v / 16)^3 ms, from 0 up to
// about 4 s, so both back-to-back bytes and long silences occur.

#include "sim/engine/OrnaEngine.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {
[[noreturn]] void fail(const char *what, double a = 0, double b = 0)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s (%.17g, %.17g)\n", what, a, b);
    std::abort();
}
#define CHECK(cond, ...)                                                                                               \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            fail(#cond, ##__VA_ARGS__);                                                                            \
    } while (0)

struct Reader
{
    const uint8_t *data;
    size_t size;
    size_t i = 0;
    bool more() const { return i < size; }
    int byte() { return i < size ? data[i++] : 0; }
    QByteArray bytes(size_t n)
    {
        n = std::min(n, size - i);
        QByteArray b(reinterpret_cast<const char *>(data + i), qsizetype(n));
        i += n;
        return b;
    }
};

SimTrigger triggerFrom(int b)
{
    switch (b & 3) {
    case 0: return SimTrigger::off();
    case 1: return SimTrigger::once(((b >> 2) & 7) + 1);
    case 2: return SimTrigger::always();
    default: return SimTrigger::atRate(double(b >> 2) / 63.0);
    }
}

double step(int v)
{
    const double x = v / 16.0;
    return x * x * x / 1000.0;
}

// Checks what takeDue handed out: in time order, due, 7-bit on a 7-bit
// line, the hang-up last.
struct OutChecker
{
    double lastTime = -std::numeric_limits<double>::infinity();
    bool hungUp = false;

    void take(OrnaEngine &e, double tNow, bool sevenBit)
    {
        const QList<SimOut> out = e.takeDue(tNow);
        for (const SimOut &o : out) {
            CHECK(!hungUp, o.time);
            CHECK(std::isfinite(o.time), o.time);
            CHECK(o.time <= tNow + 1e-6, o.time, tNow);
            CHECK(o.time >= lastTime - 1e-9, o.time, lastTime);
            lastTime = o.time;
            if (o.hangUp) {
                hungUp = true;
                CHECK(o.bytes.isEmpty());
                continue;
            }
            CHECK(!o.bytes.isEmpty());
            if (sevenBit)
                for (char c : o.bytes)
                    CHECK((static_cast<unsigned char>(c) & 0x80) == 0, double(static_cast<unsigned char>(c)));
        }
        if (!std::isinf(tNow))
            CHECK(e.nextDueTime() > tNow - 1e-6, e.nextDueTime(), tNow);
        else
            CHECK(!e.hasPendingOutput() || e.lineDropped());
        CHECK(hungUp == e.lineDropped());
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    const int start = r.byte();
    SimConfig cfg;
    if (start & 1) {
        cfg.line.dataBits = 7;
        cfg.line.parity = 'E';
    }
    cfg.startTable = (start & 4) ? SimStartTable::Empty
                                 : (start & 2) ? SimStartTable::F4Examples : SimStartTable::EzZoneExamples;
    cfg.faults.babbleBytes = 300; // bounded: a babble of any length tests the same code
    double t = 12.5;
    OrnaEngine e(cfg, t);
    // The frame log is part of what the engine produces; build its lines.
    e.setFrameHook([](const SimFrame &f) { (void)f.toLogLine(); });
    OutChecker out;
    // Replies are cut to 7 bits when they are queued; checked only while the
    // format has been 7-bit all along.
    bool sevenBit = cfg.line.dataBits == 7;

    while (r.more()) {
        const int op = r.byte();
        if (op < 0x80) {
            t += step(r.byte());
            e.receive(r.bytes(size_t(op)), t);
        } else if (op < 0xA0) {
            t += step(r.byte());
            out.take(e, t, sevenBit);
        } else if (op < 0xB0) {
            SimFaults f;
            f.delay = triggerFrom(r.byte());
            f.silence = triggerFrom(r.byte());
            f.nak = triggerFrom(r.byte());
            f.noise = triggerFrom(r.byte());
            f.holdoff = triggerFrom(r.byte());
            f.noStx = triggerFrom(r.byte());
            f.afterEot = triggerFrom(r.byte());
            f.babble = triggerFrom(r.byte());
            f.drop = triggerFrom(r.byte());
            const int s = r.byte();
            f.delayMs = s * 20;
            f.noiseBytes = s & 7;
            f.holdoffCount = (s >> 3) & 3;
            f.holdoffMs = s;
            f.afterEotBytes = s & 3;
            f.babbleBytes = s * 2;
            f.seed = quint32(op);
            e.setFaults(f);
        } else if (op == 0xB0) {
            e.setTurnaroundMs(r.byte());
        } else if (op == 0xB1) {
            e.setBusyMs(r.byte());
        } else if (op == 0xB2) {
            static const int bauds[] = {1200, 2400, 9600, 19200, 38400, 0};
            static const char *const formats[] = {"8N1", "7E1", "7O1", "9X9"};
            SimLineFormat line = e.lineFormat();
            line.baud = bauds[r.byte() % std::size(bauds)];
            line.setFormat(QString::fromLatin1(formats[r.byte() % std::size(formats)]));
            e.setLineFormat(line);
            sevenBit = false;
        } else if (op == 0xB3) {
            const int slot = r.byte() % 102;
            SimTableEntry entry;
            entry.mnemonic = r.bytes(3);
            entry.readRegister = slot * 7;
            e.setTableEntry(slot, entry);
            if (slot >= 1 && slot <= 100)
                CHECK(e.tableEntry(slot) == entry, slot);
        } else if (op == 0xB4) {
            out.take(e, std::numeric_limits<double>::infinity(), sevenBit);
            if (!e.lineDropped())
                CHECK(!e.hasPendingOutput());
        } else {
            t += r.byte();
            out.take(e, t, sevenBit);
        }
        CHECK(e.linkAddress() >= -1 && e.linkAddress() <= 35, e.linkAddress());
        CHECK(e.eventStatus() >= 0 && e.eventStatus() <= 255, e.eventStatus());
        const SimLanguage l = e.language();
        CHECK(l == SimLanguage::Scpi || l == SimLanguage::X328 || l == SimLanguage::XonXoff);
    }
    out.take(e, std::numeric_limits<double>::infinity(), sevenBit);
    return 0;
}
