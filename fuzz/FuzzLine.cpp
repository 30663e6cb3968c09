// SPDX-License-Identifier: MIT
#include "fuzz/FuzzLine.h"

#include "exchange/Protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void fuzzFail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n%s\n", what, detail.toPercentEncoding(" ").constData());
    std::fflush(stderr);
    std::abort();
}

namespace {
// A burst is a count of these; the largest stays under the receive bound,
// so a wait overflows on its second burst, as on a stream. (Larger bursts
// would only cost more memory to copy per input.)
constexpr qsizetype kBurstUnit = 256;
constexpr qsizetype kMaxBurst = 255 * kBurstUnit;

// n copies of a byte, without building them afresh for every input: the
// bytes are made once per value and shared.
QByteArray burst(char byte, qsizetype n)
{
    static QByteArray made[256];
    QByteArray &all = made[uchar(byte)];
    if (all.isEmpty())
        all = QByteArray(kMaxBurst, byte);
    return QByteArray::fromRawData(all.constData(), n);
}
} // namespace

FuzzInput FuzzInput::parse(const uint8_t *data, size_t size)
{
    FuzzInput in;
    size_t i = 0;
    const auto next = [&](int &out) {
        if (i >= size)
            return false;
        out = data[i++];
        return true;
    };
    int b = 0;
    if (next(b))
        in.options = quint8(b);
    if (next(b))
        in.pick = quint8(b);
    in.quietAtEnd = (in.options & 0xE0) == 0xE0;
    in.exitDuringWait = in.options & 0x08;
    int g = 0, n = 0, longGaps = 0;
    while (next(g)) {
        FuzzChunk c;
        if (g == 255) {
            c.drop = true;
            in.chunks.append(c);
            continue;
        }
        if (g < 248)
            c.gap = g;
        else if (longGaps++ >= kLongGaps)
            c.gap = 0;
        else
            c.gap = g < 252 ? kPromptPollLimit - 2 + (g - 248) : kReplyPollLimit - 1 + (g - 252);
        if (!next(n))
            break;
        if (n == 255) {
            int byte = 0, k = 0;
            if (!next(byte) || !next(k))
                break;
            c.bytes = burst(char(byte), qsizetype(k) * kBurstUnit);
        } else {
            const size_t take = std::min<size_t>(size_t(n), size - i);
            c.bytes = QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(take));
            i += take;
        }
        in.chunks.append(c);
    }
    return in;
}

// ---- The peer

void FuzzPort::play(const FuzzInput &in)
{
    m_in = in;
    m_playing = true;
    m_next = 0;
    m_since = 0;
    playedInputs = 0;
    skipped = 0;
    playedWrites.clear();
    delivered = 0;
    idlePolls = 0;
    lastChunk = 0;
    chunksAfterFirstWrite.clear();
}

// One full wait is kReplyPollLimit + 1 polls; one more is the input drain
// before a write.
static void checkIdle(qint64 idlePolls)
{
    FUZZ_CHECK(idlePolls <= kReplyPollLimit + 2, "a wait went on past its poll limit");
}

QByteArray FuzzPort::Input()
{
    if (!m_playing)
        return ScriptPort::Input();
    ++inputCalls;
    ++playedInputs;
    if (!PortOpen())
        return {};
    ++idlePolls;
    checkIdle(idlePolls);
    if (m_next >= m_in.chunks.size()) {
        if (!m_in.quietAtEnd)
            loseLine(QStringLiteral("the fuzz input ended"));
        return {};
    }
    const FuzzChunk &c = m_in.chunks[m_next];
    if (m_since < c.gap) {
        ++m_since;
        return {};
    }
    ++m_next;
    m_since = 0;
    ++delivered;
    idlePolls = 0;
    if (c.drop) {
        loseLine(QStringLiteral("the fuzz input dropped the line"));
        return {};
    }
    lastChunk = c.bytes.size();
    if (!playedWrites.isEmpty() && !c.bytes.isEmpty())
        chunksAfterFirstWrite.append(c.bytes);
    return c.bytes;
}

QByteArray FuzzPort::afterFirstWrite() const
{
    QByteArray all;
    for (const QByteArray &c : chunksAfterFirstWrite)
        all += c;
    return all;
}

qint64 FuzzPort::skipQuiet(qint64 maxIdle)
{
    if (!m_playing || !PortOpen() || maxIdle <= 0)
        return 0;
    qint64 quiet = 0;
    if (m_next < m_in.chunks.size())
        quiet = std::max<qint64>(0, m_in.chunks[m_next].gap - m_since);
    else if (m_in.quietAtEnd)
        quiet = maxIdle; // silent for good
    const qint64 k = std::min(quiet, maxIdle);
    m_since += k;
    idlePolls += k;
    playedInputs += k;
    skipped += k;
    checkIdle(idlePolls);
    return k;
}

bool FuzzPort::Output(const QByteArray &data)
{
    if (m_playing && PortOpen()) {
        playedWrites.append(data);
        idlePolls = 0;
    }
    return ScriptPort::Output(data);
}

// ---- The host

FuzzHost::FuzzHost(FuzzLine &line) : LineRecord(line.port), m_line(line) {}

bool FuzzHost::writeBytes(const QByteArray &bytes, bool frame)
{
    FUZZ_CHECK(m_line.port.PortOpen(), "a write after the line was lost: " + bytes);
    FUZZ_CHECK(!m_line.exitAsked, "a write after the program was asked to end: " + bytes);
    return LineRecord::writeBytes(bytes, frame);
}

RxResult FuzzHost::awaitReply(const QList<QByteArray> &terminators, qint64 limit)
{
    const qint64 before = m_line.port.playedInputs;
    const RxResult r = LineRecord::awaitReply(terminators, limit);
    const QByteArray polls = QByteArray::number(r.polls) + " polls, limit " + QByteArray::number(limit);
    FUZZ_CHECK(r.polls <= limit + 1, polls);
    FUZZ_CHECK((r.status == RxStatus::Timeout) == (r.polls > limit), polls);
    // Every poll counted was made (or skipped as idle) on the port.
    FUZZ_CHECK(r.polls == m_line.port.playedInputs - before, polls);
    FUZZ_CHECK(r.buffer.size() <= kReceiveBound + m_line.port.lastChunk, QByteArray::number(r.buffer.size()));
    switch (r.status) {
    case RxStatus::Received:
        FUZZ_CHECK(ContainsAny(r.buffer, terminators), r.buffer);
        break;
    case RxStatus::Overflow:
        FUZZ_CHECK(r.buffer.size() > kReceiveBound && !ContainsAny(r.buffer, terminators), polls);
        break;
    case RxStatus::PortClosed:
        FUZZ_CHECK(!m_line.port.PortOpen(), "a wait ended as closed on an open line");
        break;
    case RxStatus::Aborted:
        FUZZ_CHECK(m_line.exitAsked, "a wait aborted with no exit asked for");
        break;
    case RxStatus::Timeout:
        break;
    }
    return r;
}

bool FuzzHost::errorIsOneOf(std::initializer_list<const char *> texts) const
{
    if (error.isEmpty())
        return true;
    for (const char *t : texts)
        if (error == QLatin1String(t))
            return true;
    return false;
}

// ---- The line

FuzzLine::FuzzLine()
{
    QObject::connect(&port, &PortObject::portLost, &port, [this](const QString &) {
        ++lossSignals;
        // An operation runs whenever the line can be lost here: the report
        // waits for its end.
        FUZZ_CHECK(!lock.lineLost(), "the loss was to be shown while an operation ran");
    });
}

FuzzLine &FuzzLine::fresh()
{
    static FuzzLine *line = new FuzzLine;
    FuzzPort &p = line->port;
    p.stop();
    if (!p.PortOpen())
        p.PortOpen(true);
    p.writes.clear();
    p.closedWrites = 0;
    p.inputCalls = 0;
    line->lock = LineLock();
    line->lossSignals = 0;
    line->exitAsked = false;
    line->due = {};
    line->refusedClicks = 0;
    return *line;
}

void FuzzLine::begin(const FuzzInput &in, FuzzHost &host)
{
    port.play(in);
    FUZZ_CHECK(lock.tryBegin(), "the line was held before the operation");
    host.hooks.block = [this](qint64 maxIdle) { return port.skipQuiet(maxIdle); };
    host.hooks.stop = [this] { return lock.stopWaits(); };
    const bool exitDuringWait = in.exitDuringWait;
    host.hooks.pump = [this, exitDuringWait] {
        // A click or a loop tick during the wait: refused.
        FUZZ_CHECK(!lock.tryBegin(), "a second operation began while one waited");
        ++refusedClicks;
        if (exitDuringWait && !exitAsked && !port.chunksAfterFirstWrite.isEmpty()) {
            exitAsked = true;
            FUZZ_CHECK(!lock.requestExit(), "the exit went ahead of the running operation");
        }
    };
}

void FuzzLine::end(FuzzHost &host)
{
    port.stop();
    due = lock.end();
    // ORNA_FUZZ_VERBOSE=1 shows what each input did (for writing seeds).
    static const bool verbose = qEnvironmentVariableIsSet("ORNA_FUZZ_VERBOSE");
    if (verbose)
        std::fprintf(stderr, "wrote [%s] polls %lld (%lld skipped)\ntranscript [%s]\nerror [%s]%s%s\n",
                     port.written().toPercentEncoding(" ,:?*=@").constData(), qint64(port.playedInputs),
                     qint64(port.skipped), host.transcript.toPercentEncoding(" ,:?*=@").constData(),
                     host.error.toLatin1().constData(), host.lineClosed.isEmpty() ? "" : " line: ",
                     host.lineClosed.constData());
    FUZZ_CHECK(lock.state() == (exitAsked ? LineLock::State::Exiting : LineLock::State::Idle), "the line is still held");
    FUZZ_CHECK(due.exit == exitAsked, "the exit asked for was not carried out at the end");
    // A line lost during the operation is reported once, at its end, whether
    // or not a wait was left to notice it.
    FUZZ_CHECK(lossSignals <= 1 && due.lineLost == (lossSignals == 1), QByteArray::number(lossSignals));
    FUZZ_CHECK(port.PortOpen() == (lossSignals == 0), "the port closed without a loss");
    FUZZ_CHECK(port.closedWrites == 0, "a write reached the closed port");
    // Every wait ends at its bound or earlier, and each new wait follows a
    // write or a delivery; so the polls of the whole operation are bounded.
    const qint64 bound = (qint64(port.playedWrites.size()) + port.delivered + 1) * (kReplyPollLimit + 2);
    FUZZ_CHECK(port.playedInputs <= bound, QByteArray::number(port.playedInputs));
}

bool FuzzLine::exchange(FuzzHost &host, Exchange &x)
{
    if (!port.PortOpen()) {
        host.lineClosed = "The COM port is closed";
        return false;
    }
    port.Input(); // the drain: whatever is pending is dropped
    if (!port.PortOpen()) {
        host.lineClosed = "lost in the input drain";
        return false;
    }
    return RunExchange(x, host);
}

XonOutcome fuzzXonOutcome(const QList<QByteArray> &chunks, const QByteArray &terminators)
{
    XonOutcome o;
    QByteArray buffer;
    for (const QByteArray &c : chunks) {
        buffer += c;
        bool ended = false;
        for (char t : terminators)
            ended = ended || buffer.contains(t);
        if (!ended)
            continue;
        if (buffer == QByteArray(1, 0x13)) {
            ++o.holdOffs;
            buffer.clear();
            continue;
        }
        o.last = buffer;
        return o;
    }
    return o;
}

bool fuzzWritesAre(const FuzzLine &line, const QList<QByteArray> &expected)
{
    const QList<QByteArray> &w = line.port.playedWrites;
    if (line.port.PortOpen() && !line.exitAsked)
        return w == expected;
    return w.size() <= expected.size() && w == expected.mid(0, w.size());
}
