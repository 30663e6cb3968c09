// SPDX-License-Identifier: MIT
#include "exchange/Exchange.h"

#include "exchange/Protocol.h"

#include <cmath>

namespace {

QByteArray one(char c) { return QByteArray(1, c); }

const QString kNoResponse = QString::fromLatin1(kNoResponseMessage);

// The frame, "Sent " and the text on a fresh transcript, shown at once.
Acts sendFirst(const QByteArray &frame, const QByteArray &text)
{
    return {Act::writeFrame(frame), Act::replace("Sent " + text), Act::repaint()};
}

bool isLoneXoff(const QByteArray &buffer) { return buffer.size() == 1 && buffer.at(0) == Ctl::XOFF; }

Act timedOut() { return Act::result(ExchangeOutcome::Timeout); }

class Scpi : public Exchange
{
public:
    explicit Scpi(const QByteArray &text) : m_text(text) {}

    Acts start() override
    {
        const QByteArray frame = FrameScpi(m_text);
        Acts acts = sendFirst(frame, m_text);
        m_kind = ClassifyScpi(frame);
        switch (m_kind) {
        case ScpiKind::SwitchX328:
            return acts << Act::write(m_text) << Act::viewChange(ModeView::SwitchX328);
        case ScpiKind::SwitchXonXoff:
            return acts << Act::write(m_text) << Act::viewChange(ModeView::SwitchXonXoff);
        case ScpiKind::Query:
            return acts << Act::await({one(Ctl::LF)}, kReplyPollLimit);
        case ScpiKind::Command:
            break;
        }
        return acts << Act::await({QByteArray(kPrompt)}, kPromptPollLimit);
    }

    Acts judge(const RxResult &r) override
    {
        if (m_kind == ScpiKind::Command) {
            if (r.status == RxStatus::Timeout)
                return Act::fail(QStringLiteral("Prompt not found.")) << timedOut();
            return {Act::append("Prompt received"), Act::result(ExchangeOutcome::Ok)};
        }
        if (r.status == RxStatus::Timeout)
            return Act::fail(kNoResponse) << Act::append("No response") << timedOut();
        // The reply is the text before the first LF; a prompt anywhere in
        // the buffer is reported, without a further wait for it.
        const QByteArray reply = r.buffer.left(r.buffer.indexOf(Ctl::LF));
        Acts acts{Act::append(reply), Act::reply(reply)};
        if (r.buffer.contains(kPrompt))
            acts << Act::append("Prompt received");
        return acts << Act::result(ExchangeOutcome::Ok);
    }

private:
    QByteArray m_text;
    ScpiKind m_kind = ScpiKind::Command;
};

bool hasAck(const QByteArray &buffer) { return PositionOf(buffer, Ctl::ACK) > 0; }

// "Received Characters: " and the codes up to the first ACK, or else up to
// the first NAK: ACK anywhere wins.
Acts ackOrNak(const QByteArray &buffer, const char *ackLine, const char *nakLine)
{
    const qint64 ack = PositionOf(buffer, Ctl::ACK);
    if (ack > 0)
        return {Act::replace("Received Characters: " + ListCodes(buffer, ack)), Act::append(ackLine)};
    return {Act::replace("Received Characters: " + ListCodes(buffer, PositionOf(buffer, Ctl::NAK))),
            Act::append(nakLine), Act::beep()};
}

class Select : public Exchange
{
public:
    explicit Select(const QByteArray &text) : m_text(text) {}

    Acts start() override
    {
        return sendFirst(FrameSelect(m_text), m_text) << Act::await({one(Ctl::NAK), one(Ctl::ACK)}, kReplyPollLimit);
    }

    Acts judge(const RxResult &r) override
    {
        if (r.status == RxStatus::Timeout)
            return Act::fail(kNoResponse) << timedOut();
        return ackOrNak(r.buffer, "Received ACK", "Received NAK")
               << Act::result(hasAck(r.buffer) ? ExchangeOutcome::Ok : ExchangeOutcome::Nak);
    }

private:
    QByteArray m_text;
};

// The poll, in the order its frames pass: the query block is answered by
// ACK (or NAK, which ends it); EOT hands the line over; the data block comes
// STX ... ETX (a NAK asks for it once more when the option is on); ACK
// accepts it; the device ends with EOT alone.
class Poll : public Exchange
{
public:
    Poll(const QByteArray &text, const PollOptions &options) : m_text(text), m_options(options) {}

    Acts start() override
    {
        m_stage = Answer;
        return sendFirst(FramePoll(m_text), m_text) << Act::await({one(Ctl::ACK), one(Ctl::NAK)}, kReplyPollLimit);
    }

    Acts judge(const RxResult &r) override
    {
        switch (m_stage) {
        case Answer:
            return answer(r);
        case Data:
            return data(r);
        case End:
            return end(r);
        }
        return {};
    }

private:
    enum Stage { Answer, Data, End };

    Acts answer(const RxResult &r)
    {
        if (r.status == RxStatus::Timeout)
            return Act::fail(kNoResponse) << timedOut();
        Acts acts = ackOrNak(r.buffer, "Received  ACK", "Received  NAK");
        if (!hasAck(r.buffer))
            return acts << Act::result(ExchangeOutcome::Nak);
        // The frame goes out first; the lines paint while the device answers.
        m_stage = Data;
        return acts << Act::writeFrame(one(Ctl::EOT)) << Act::repaint() << awaitData();
    }

    Acts data(const RxResult &r)
    {
        if (r.status == RxStatus::Timeout)
            return Act::fail(kNoResponse) << timedOut();
        const qint64 n = r.buffer.size();
        const bool byteCount = m_options.byteCount && m_options.byteCount();
        const Acts count = byteCount ? Acts{Act::append("Byte Count= " + SignedNumberText(n))} : Acts{};
        if (r.buffer.at(0) != Ctl::STX) {
            // No ACK: the device is left waiting, as after every failure.
            return Act::fail(QStringLiteral("STX not first character in the buffer"))
                   << Act::append("Received " + ListCodes(r.buffer, n)) << count
                   << Act::result(ExchangeOutcome::BadData);
        }
        // The data stand between the STX and the first ETX; whatever came
        // after that ETX in the same poll is not data.
        const QByteArray text = r.buffer.mid(1, r.buffer.indexOf(Ctl::ETX) - 1);
        const qsizetype cr = text.indexOf(Ctl::CR);
        Acts acts{Act::append(cr >= 0 ? "Received STX " + text.left(cr) + "<cr> ETX" : "Received STX " + text + " ETX")};
        acts << count;
        if (!m_nakSent && m_options.oneNak && m_options.oneNak()) {
            m_nakSent = true; // one NAK per poll: the repeated block is accepted
            return acts << Act::nakUsed() << Act::writeFrame(one(Ctl::NAK)) << Act::append("Sent NAK")
                        << Act::repaint() << awaitData();
        }
        m_stage = End;
        return acts << Act::writeFrame(one(Ctl::ACK)) << Act::repaint() << Act::await({one(Ctl::EOT)}, kReplyPollLimit);
    }

    Acts end(const RxResult &r)
    {
        if (r.status == RxStatus::Timeout)
            return Act::fail(QStringLiteral("Receive timeout error - no EOT from UUT")) << timedOut();
        if (r.buffer.size() > 1)
            return Act::fail(QStringLiteral("Receive buffer has more than one character"))
                   << Act::append("Received " + r.buffer) << Act::result(ExchangeOutcome::ExtraBytes);
        return {Act::append("Received EOT"), Act::result(ExchangeOutcome::Ok)};
    }

    static Act awaitData() { return Act::await({one(Ctl::ETX)}, kReplyPollLimit); }

    QByteArray m_text;
    PollOptions m_options;
    bool m_nakSent = false;
    Stage m_stage = Answer;
};

// The Xon/Xoff exchanges: a buffer that is one lone XOFF means the device is
// busy; the busy line replaces the transcript and the wait starts again
// with a fresh count, as often as it comes.
class XonXoff : public Exchange
{
public:
    XonXoff(const QByteArray &frame, const QByteArray &text, bool query)
        : m_frame(frame), m_text(text), m_query(query)
    {
    }

    Acts start() override { return sendFirst(m_frame, m_text) << awaitReply(); }

    Acts judge(const RxResult &r) override
    {
        if (r.status == RxStatus::Timeout)
            return Act::fail(kNoResponse) << timedOut();
        if (isLoneXoff(r.buffer)) {
            return {Act::holdOff(),
                    Act::replace(m_query ? "Received Xoff-waiting for next string"
                                         : "Received <xoff> -waiting for next string"),
                    Act::repaint(), awaitReply()};
        }
        if (m_query && r.buffer.size() == 1) {
            // A CR alone: an empty line where a value was expected.
            return {Act::append("Received Characters: " + ListCodesPlain(r.buffer)),
                    Act::append("Did not receive an ACK or a NAK"), Act::beep(), Act::result(ExchangeOutcome::BadData)};
        }
        return {Act::append("Received Characters: " + ListNames(r.buffer)), Act::result(ExchangeOutcome::Ok)};
    }

private:
    // The command ends at XOFF, XON or CR; the query at XOFF or CR (an XON
    // alone does not end it).
    Act awaitReply() const
    {
        if (m_query)
            return Act::await({one(Ctl::XOFF), one(Ctl::CR)}, kReplyPollLimit);
        return Act::await({one(Ctl::XOFF), one(Ctl::XON), one(Ctl::CR)}, kReplyPollLimit);
    }

    QByteArray m_frame;
    QByteArray m_text;
    bool m_query;
};

class LinkOpen : public Exchange
{
public:
    LinkOpen(const QByteArray &address, const QByteArray &typed) : m_address(address), m_typed(typed) {}

    Acts start() override
    {
        return {Act::write(m_address + Ctl::ENQ), Act::await({one(Ctl::ACK)}, kReplyPollLimit)};
    }

    Acts judge(const RxResult &r) override
    {
        if (r.status == RxStatus::Timeout) {
            return Act::fail(kNoResponse) << Act::replace(r.buffer.isEmpty() ? QByteArray("Received buffer was empty")
                                                                            : "Received " + ListCodes(r.buffer, r.buffer.size()))
                                          << timedOut();
        }
        const qint64 p = PositionOf(r.buffer, Ctl::ACK);
        // Two or more bytes before the ACK: listed, but the link does not count as open.
        if (p >= 3)
            return {Act::replace("Received " + ListCodes(r.buffer, p)), Act::result(ExchangeOutcome::BadData)};
        return {Act::replace("Received " + r.buffer.left(p - 1) + " ACK"),
                Act::append("Device address set to " + m_typed), Act::linkOpened(),
                Act::viewChange(ModeView::LinkOpen), Act::result(ExchangeOutcome::Ok)};
    }

private:
    QByteArray m_address;
    QByteArray m_typed;
};

// Nearest integer, a half going to the even neighbour (64.5 -> 64, 65.5 -> 66).
double roundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double diff = x - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1;
}

} // namespace

ScpiKind ClassifyScpi(const QByteArray &frame)
{
    if (frame.contains("X3.28"))
        return ScpiKind::SwitchX328;
    if (frame.contains("XonXoff"))
        return ScpiKind::SwitchXonXoff;
    if (frame.contains('?'))
        return ScpiKind::Query;
    return ScpiKind::Command;
}

std::unique_ptr<Exchange> ScpiExchange(const QByteArray &text) { return std::make_unique<Scpi>(text); }
std::unique_ptr<Exchange> SelectExchange(const QByteArray &text) { return std::make_unique<Select>(text); }

std::unique_ptr<Exchange> PollExchange(const QByteArray &text, const PollOptions &options)
{
    return std::make_unique<Poll>(text, options);
}

std::unique_ptr<Exchange> XonCommandExchange(const QByteArray &text)
{
    return std::make_unique<XonXoff>(FrameXonCmd(text), text, false);
}

std::unique_ptr<Exchange> XonQueryExchange(const QByteArray &text)
{
    return std::make_unique<XonXoff>(FrameXonQuery(text), text, true);
}

std::unique_ptr<Exchange> LinkOpenExchange(const QByteArray &address, const QByteArray &typed)
{
    return std::make_unique<LinkOpen>(address, typed);
}

Acts ScpiButtonActs()
{
    return {Act::write(kEscape), Act::replace("Sent @@@"), Act::append("SCPI commands enabled"),
            Act::viewChange(ModeView::ScpiButton)};
}

Acts DisconnectActs()
{
    return {Act::write(FrameDisconnect()), Act::replace("Sent <DLE> <ENQ>"), Act::viewChange(ModeView::Disconnect)};
}

Acts EscapeActs() { return {Act::write(kEscape), Act::viewChange(ModeView::Escape)}; }

std::optional<QByteArray> LinkAddress(const QByteArray &typed)
{
    const double v = NumericValue(typed);
    if (!(v >= 0 && v <= 32) || (v == 0 && typed != "0"))
        return std::nullopt;
    if (v <= 9)
        return typed;
    return QByteArray(1, char(int(roundHalfEven(v + 55))));
}

namespace {
// Carries out steps up to the first Await; returns it, or nothing at the
// end. Sets ok false when a write failed.
std::optional<Act> carryOut(const Acts &acts, ExchangeHost &host, bool &ok)
{
    for (const Act &a : acts) {
        switch (a.kind) {
        case Act::WriteFrame:
        case Act::Write:
            if (!host.writeBytes(a.bytes, a.kind == Act::WriteFrame)) {
                ok = false;
                return std::nullopt;
            }
            break;
        case Act::Await:
            return a;
        default:
            host.apply(a);
            break;
        }
    }
    return std::nullopt;
}
} // namespace

bool RunExchange(Exchange &exchange, ExchangeHost &host)
{
    bool ok = true;
    std::optional<Act> await = carryOut(exchange.start(), host, ok);
    while (ok && await) {
        const RxResult r = host.awaitReply(await->awaited, await->limit);
        if (r.status != RxStatus::Received && r.status != RxStatus::Timeout) {
            host.waitFailed(r);
            return false;
        }
        await = carryOut(exchange.judge(r), host, ok);
    }
    return ok;
}

bool RunActs(const Acts &acts, ExchangeHost &host)
{
    bool ok = true;
    carryOut(acts, host, ok);
    return ok;
}
