// SPDX-License-Identifier: MIT
#include "sim/engine/OrnaEngine.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {
constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, LF = 0x0A,
               CR = 0x0D, DLE = 0x10, XON = 0x11, XOFF = 0x13, NAK = 0x15;
constexpr int MaxLine = 512;
constexpr int MaxFrame = 256;
// The program sends the text of a language switch once more, bare, right
// after the switch line; bytes that spell it within this time are ignored.
constexpr double EchoWindowSeconds = 2.0;

// One SCPI keyword against its pattern, e.g. "SYSTem": the upper-case part is
// the short form, the whole the long form; case is ignored.
bool keywordMatches(const QByteArray &word, const char *pattern)
{
    const QByteArray longForm(pattern);
    qsizetype shortLen = 0;
    while (shortLen < longForm.size() && !std::islower(static_cast<unsigned char>(longForm[shortLen])))
        ++shortLen;
    const QByteArray w = word.toUpper();
    return w == longForm.toUpper() || w == longForm.left(shortLen);
}

bool headerMatches(QByteArray header, std::initializer_list<const char *> patterns)
{
    if (header.startsWith(':'))
        header.remove(0, 1);
    const QList<QByteArray> words = header.split(':');
    if (words.size() != qsizetype(patterns.size()))
        return false;
    qsizetype i = 0;
    for (const char *pattern : patterns)
        if (!keywordMatches(words[i++], pattern))
            return false;
    return true;
}

// A non-negative decimal integer, nothing else.
std::optional<qint64> parseCount(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    return text.toLongLong();
}
} // namespace

OrnaEngine::OrnaEngine(const SimConfig &config, double tStart)
    : m_cfg(config)
    , m_lineFree(tStart)
    , m_rng(config.faults.seed)
{
    for (const SimControllerConfig &c : config.controllers)
        if (c.address >= 0 && c.address <= 35 && !controller(c.address))
            m_controllers.emplace_back(c, config, tStart);
    if (config.startTable != SimStartTable::Empty) {
        const auto model = config.startTable == SimStartTable::F4Examples ? SimModel::F4 : SimModel::EzZone;
        const QList<SimTableEntry> examples = simExampleTable(model);
        for (qsizetype i = 0; i < examples.size(); ++i)
            m_table[i + 1] = examples[i];
    }
}

SimTableEntry OrnaEngine::tableEntry(int slot) const
{
    return (slot >= 1 && slot <= 100) ? m_table[slot] : SimTableEntry();
}

bool OrnaEngine::setTableEntry(int slot, const SimTableEntry &entry)
{
    if (slot < 1 || slot > 100)
        return false;
    m_table[slot] = entry;
    return true;
}

SimController *OrnaEngine::controller(int address)
{
    for (SimController &c : m_controllers)
        if (c.address() == address)
            return &c;
    return nullptr;
}

void OrnaEngine::setFaults(const SimFaults &faults)
{
    m_cfg.faults = faults;
    m_occasions.fill(0);
    m_rng.seed(faults.seed);
}

void OrnaEngine::changeFaults(const SimFaults &faults)
{
    for (const SimFaultInfo &info : simFaultCatalogue())
        if (!(m_cfg.faults.*info.trigger == faults.*info.trigger))
            m_occasions[int(info.fault)] = 0;
    m_cfg.faults = faults;
}

void OrnaEngine::setLineFormat(const SimLineFormat &line)
{
    if (line.baud > 0)
        m_cfg.line = line;
}

// ---------------------------------------------------------------- input

void OrnaEngine::receive(const QByteArray &bytes, double t)
{
    if (m_dropped || m_hangUpScheduled)
        return;
    for (char b : bytes) {
        if (m_cfg.line.dataBits == 7)
            b = char(b & 0x7F);
        feed(b, t);
        if (m_hangUpScheduled)
            return;
    }
    if (m_language == SimLanguage::X328)
        flushStray(t, true);
}

void OrnaEngine::feed(char b, double t)
{
    if (!m_echo.isEmpty()) {
        if (t <= m_echoDeadline && b == m_echo.at(m_echoPos)) {
            if (++m_echoPos == m_echo.size()) {
                log(SimFrame::FromHost, t, m_echo, QStringLiteral("bare copy of the language switch, ignored"));
                m_echo.clear();
            }
            return;
        }
        if (m_echoPos > 0)
            log(SimFrame::FromHost, t, m_echo.left(m_echoPos), QStringLiteral("ignored"));
        m_echo.clear();
    }

    if (b == '@') {
        if (++m_atRun == 3) {
            m_atRun = 0;
            escapeToScpi(t);
            return;
        }
    } else {
        m_atRun = 0;
    }

    switch (m_language) {
    case SimLanguage::Scpi: feedScpi(b, t); break;
    case SimLanguage::X328: feedX328(b, t); break;
    case SimLanguage::XonXoff: feedXonXoff(b, t); break;
    }
}

void OrnaEngine::escapeToScpi(double t)
{
    m_scpiLine.clear();
    m_scpiOverflow = false;
    m_scpiEndedByCr = false;
    m_inFrame = false;
    m_frame.clear();
    m_stray.clear();
    m_xonLine.clear();
    m_poll = Poll::Idle;
    const bool changed = m_language != SimLanguage::Scpi;
    m_language = SimLanguage::Scpi;
    log(SimFrame::FromHost, t, QByteArrayLiteral("@@@"),
        changed ? QStringLiteral("escape: language SCPI") : QStringLiteral("escape: line discarded"));
}

// ---------------------------------------------------------------- SCPI

void OrnaEngine::feedScpi(char b, double t)
{
    // A line ends with LF, with CR LF, or with CR alone (what terminal
    // programs send for Enter); the LF of a CR LF ends nothing more.
    const bool afterCr = m_scpiEndedByCr;
    m_scpiEndedByCr = false;
    if (b == LF && afterCr) {
        log(SimFrame::FromHost, t, QByteArray(1, LF), QStringLiteral("end of the line above (CR LF)"));
        return;
    }
    if (b == LF || b == CR) {
        const QByteArray line = m_scpiLine;
        const bool overflow = m_scpiOverflow;
        m_scpiLine.clear();
        m_scpiOverflow = false;
        m_scpiEndedByCr = b == CR;
        log(SimFrame::FromHost, t, line + b);
        handleScpiLine(line, overflow, t);
        return;
    }
    if (takeDisconnect(m_scpiLine, b, t))
        return;
    if (m_scpiLine.size() >= MaxLine)
        m_scpiOverflow = true;
    else
        m_scpiLine.append(b);
}

bool OrnaEngine::takeDisconnect(QByteArray &line, char b, double t)
{
    if (b != ENQ || !line.endsWith(DLE))
        return false;
    line.chop(1);
    log(SimFrame::FromHost, t, QByteArray(1, DLE) + ENQ, QStringLiteral("X3.28 disconnect, no link: ignored"));
    return true;
}

void OrnaEngine::handleScpiLine(const QByteArray &raw, bool overflow, double t)
{
    QByteArray line = raw;
    if (line.endsWith(CR))
        line.chop(1);
    const QByteArray text = line.trimmed();
    if (overflow) {
        m_esr |= EsrCommandError;
        sendReply(t, {{">", 0.0, QStringLiteral("line too long")}});
        return;
    }
    if (text.isEmpty()) {
        sendReply(t, {{">"}});
        return;
    }

    qsizetype split = 0;
    while (split < text.size() && !std::isspace(static_cast<unsigned char>(text[split])))
        ++split;
    const QByteArray header = text.left(split);
    const QByteArray args = text.mid(split).trimmed();
    const bool query = header.endsWith('?');
    const QByteArray name = query ? header.chopped(1) : header;
    const QByteArray upper = name.toUpper();

    std::optional<QByteArray> answer;
    int errorBefore = m_esr;
    bool known = true;
    std::optional<SimLanguage> switchTo;

    if (upper.startsWith('*')) {
        if (!args.isEmpty())
            known = false;
        else if (upper == "*IDN" && query)
            answer = identification();
        else if (upper == "*ESR" && query) {
            answer = QByteArray::number(m_esr);
            m_esr = 0;
            errorBefore = 0;
        } else if (upper == "*STB" && query)
            answer = QByteArray::number(m_esr != 0 ? 32 : 0);
        else if (upper == "*CLS" && !query)
            m_esr = errorBefore = 0;
        else if (upper == "*OPC" && !query)
            m_esr |= EsrOperationComplete;
        else if (upper == "*OPC" && query)
            answer = QByteArrayLiteral("1");
        else
            known = false;
    } else if (headerMatches(name, {"SYSTem", "LANGuage"})) {
        if (query) {
            if (args.isEmpty())
                answer = simLanguageName(m_language).toLatin1();
            else
                m_esr |= EsrCommandError;
        } else if (args.isEmpty()) {
            m_esr |= EsrCommandError;
        } else {
            const QByteArray lang = args.toUpper();
            if (lang == "X3.28")
                switchTo = SimLanguage::X328;
            else if (lang == "XONXOFF")
                switchTo = SimLanguage::XonXoff;
            else if (lang == "SCPI")
                switchTo = SimLanguage::Scpi;
            else
                m_esr |= EsrExecutionError;
        }
    } else if (headerMatches(name, {"ASSIGN", "ANSI"})) {
        answer = query ? assignAnsiQuery(args) : assignAnsi(args);
    } else {
        known = false;
    }

    QString why;
    if (!known) {
        m_esr |= EsrCommandError;
        why = QStringLiteral("unknown command");
    } else if (m_esr != errorBefore) {
        why = QStringLiteral("error, ESR %1").arg(m_esr);
    }
    if (answer)
        sendReply(t, {{*answer + LF + '>', 0.0, why}});
    else
        sendReply(t, {{">", 0.0, why}});

    if (switchTo && *switchTo != SimLanguage::Scpi)
        switchLanguage(*switchTo, line, t);
}

// "ASSIGN:ANSI n,MNEMONIC,read,write,a,b": stores slot n. "n,0,0,0,0,0"
// empties it. Sets the execution error bit for numbers out of range and
// the command error bit for anything malformed. Never answers a line.
std::optional<QByteArray> OrnaEngine::assignAnsi(const QByteArray &args)
{
    QList<QByteArray> f = args.split(',');
    for (QByteArray &field : f)
        field = field.trimmed();
    if (f.size() != 6) {
        m_esr |= EsrCommandError;
        return std::nullopt;
    }
    const auto slot = parseCount(f[0]);
    std::array<std::optional<qint64>, 4> numbers{parseCount(f[2]), parseCount(f[3]), parseCount(f[4]), parseCount(f[5])};
    static const QRegularExpression mnemonicPattern(QStringLiteral("^[A-Za-z][A-Za-z0-9_]{0,7}$"));
    const bool clearing = f[1] == "0";
    if (!slot || !(clearing || mnemonicPattern.match(QString::fromLatin1(f[1])).hasMatch())) {
        m_esr |= EsrCommandError;
        return std::nullopt;
    }
    for (const auto &n : numbers) {
        if (!n) {
            m_esr |= EsrCommandError;
            return std::nullopt;
        }
    }
    if (*slot < 1 || *slot > 100) {
        m_esr |= EsrExecutionError;
        return std::nullopt;
    }
    for (const auto &n : numbers) {
        if (*n > 65535 || (clearing && *n != 0)) {
            m_esr |= EsrExecutionError;
            return std::nullopt;
        }
    }
    if (clearing)
        m_table[*slot] = SimTableEntry();
    else
        m_table[*slot] = {f[1], int(*numbers[0]), int(*numbers[1]), int(*numbers[2]), int(*numbers[3])};
    return std::nullopt;
}

std::optional<QByteArray> OrnaEngine::assignAnsiQuery(const QByteArray &args)
{
    const auto slot = parseCount(args);
    if (!slot) {
        m_esr |= EsrCommandError;
        return std::nullopt;
    }
    if (*slot < 1 || *slot > 100) {
        m_esr |= EsrExecutionError;
        return std::nullopt;
    }
    return m_table[*slot].toText();
}

void OrnaEngine::switchLanguage(SimLanguage language, const QByteArray &switchText, double t)
{
    m_language = language;
    m_inFrame = false;
    m_frame.clear();
    m_stray.clear();
    m_xonLine.clear();
    m_poll = Poll::Idle;
    m_echo = switchText;
    m_echoPos = 0;
    m_echoDeadline = t + EchoWindowSeconds;
    note(t, QStringLiteral("language %1").arg(simLanguageName(language)));
}

// ---------------------------------------------------------------- X3.28

void OrnaEngine::feedX328(char b, double t)
{
    if (m_inFrame) {
        if (b == ETX) {
            m_inFrame = false;
            const QByteArray body = m_frame;
            m_frame.clear();
            log(SimFrame::FromHost, t, STX + body + ETX);
            handleFrame(body, t);
        } else if (b == STX) {
            log(SimFrame::FromHost, t, STX + m_frame, QStringLiteral("unfinished frame dropped"));
            m_frame.clear();
        } else if (m_frame.size() < MaxFrame) {
            m_frame.append(b);
        }
        return;
    }

    const char last = m_stray.isEmpty() ? '\0' : m_stray.back();
    switch (b) {
    case STX:
        flushStray(t, false);
        m_inFrame = true;
        m_frame.clear();
        return;
    case ENQ:
    case EOT:
        if (last == DLE) {
            m_stray.chop(1);
            flushStray(t, false);
            log(SimFrame::FromHost, t, QByteArray(1, DLE) + b);
            closeLink(t, QStringLiteral("link closed by the host"));
            return;
        }
        if (b == ENQ && simAddressFromChar(last) >= 0) {
            m_stray.chop(1);
            flushStray(t, false);
            log(SimFrame::FromHost, t, QByteArray(1, last) + ENQ);
            openLink(last, t);
            return;
        }
        if (b == EOT && m_poll == Poll::AwaitEot) {
            flushStray(t, false);
            log(SimFrame::FromHost, t, QByteArray(1, EOT));
            sendDataBlock(t);
            return;
        }
        break;
    case ACK:
    case NAK:
        if (m_poll == Poll::AwaitAck) {
            flushStray(t, false);
            log(SimFrame::FromHost, t, QByteArray(1, b));
            if (b == ACK)
                sendClosingEot(t);
            else
                sendPollBlock(t, QStringLiteral("data block repeated"));
            return;
        }
        break;
    default:
        break;
    }
    m_stray.append(b);
    if (m_stray.size() > MaxFrame)
        flushStray(t, true);
}

// Logs the bytes that belong to no message as ignored. With
// keepPossiblePrefix the last byte stays if it could still start a message
// (an address before ENQ, DLE before ENQ/EOT, '@' of the escape).
void OrnaEngine::flushStray(double t, bool keepPossiblePrefix)
{
    QByteArray kept;
    if (keepPossiblePrefix && !m_stray.isEmpty()) {
        const char last = m_stray.back();
        if (last == DLE || last == '@' || simAddressFromChar(last) >= 0) {
            kept = QByteArray(1, last);
            m_stray.chop(1);
        }
    }
    if (!m_stray.isEmpty())
        log(SimFrame::FromHost, t, m_stray, QStringLiteral("ignored"));
    m_stray = kept;
}

void OrnaEngine::openLink(char addressChar, double t)
{
    const int address = simAddressFromChar(addressChar);
    m_poll = Poll::Idle;
    if (!controller(address)) {
        if (m_link >= 0)
            note(t, QStringLiteral("link to %1 closed; no controller at address %2, silence").arg(m_link).arg(address));
        else
            note(t, QStringLiteral("no controller at address %1, silence").arg(address));
        m_link = -1;
        return;
    }
    m_link = m_lastAddressed = address;
    note(t, QStringLiteral("link open to address %1 (%2)").arg(address).arg(simModelName(controller(address)->model())));
    sendReply(t, {{QByteArray(1, addressChar) + ACK}});
}

void OrnaEngine::closeLink(double t, const QString &why)
{
    m_poll = Poll::Idle;
    if (m_link >= 0)
        note(t, why);
    m_link = -1;
}

void OrnaEngine::handleFrame(QByteArray body, double t)
{
    if (m_link < 0) {
        note(t, QStringLiteral("no link open, frame ignored"));
        return;
    }
    m_poll = Poll::Idle;
    if (body.endsWith(CR))
        body.chop(1);
    SimController *ctl = controller(m_link);

    if (body.startsWith('=')) {
        QString why = applyCommand(ctl, body.mid(1), t);
        if (why.isEmpty() && strikes(SimFault::Nak))
            why = QStringLiteral("NAK fault");
        sendReply(t, {{QByteArray(1, why.isEmpty() ? ACK : NAK), 0.0, why}});
        return;
    }
    if (body.startsWith('?')) {
        const QByteArray mnemonic = body.mid(1).trimmed();
        const SimTableEntry *entry = lookup(mnemonic);
        QString why = entry ? QString() : QStringLiteral("unknown mnemonic");
        if (why.isEmpty() && strikes(SimFault::Nak))
            why = QStringLiteral("NAK fault");
        if (why.isEmpty()) {
            m_poll = Poll::AwaitEot;
            m_pollRegister = entry->readRegister;
        }
        sendReply(t, {{QByteArray(1, why.isEmpty() ? ACK : NAK), 0.0, why}});
        return;
    }
    sendReply(t, {{QByteArray(1, NAK), 0.0, QStringLiteral("neither selection nor poll")}});
}

void OrnaEngine::sendDataBlock(double t)
{
    SimController *ctl = controller(m_link);
    m_pollBlock = STX + ctl->readText(m_pollRegister, t) + CR + ETX;
    m_poll = Poll::AwaitAck;
    sendPollBlock(t, QString());
}

void OrnaEngine::sendPollBlock(double t, const QString &noteText)
{
    if (strikes(SimFault::NoStx))
        sendReply(t, {{m_pollBlock.mid(1), 0.0, QStringLiteral("no-STX fault")}});
    else
        sendReply(t, {{m_pollBlock, 0.0, noteText}});
}

void OrnaEngine::sendClosingEot(double t)
{
    m_poll = Poll::Idle;
    QList<ReplyPart> parts{{QByteArray(1, EOT)}};
    if (strikes(SimFault::AfterEot) && m_cfg.faults.afterEotBytes > 0)
        parts[0] = {EOT + strayLetters(m_cfg.faults.afterEotBytes), 0.0, QStringLiteral("bytes-after-EOT fault")};
    sendReply(t, parts);
}

// ---------------------------------------------------------------- Xon/Xoff

void OrnaEngine::feedXonXoff(char b, double t)
{
    if (b == LF)
        return; // a line feed after the CR is tolerated
    if (b == CR) {
        const QByteArray line = m_xonLine;
        m_xonLine.clear();
        log(SimFrame::FromHost, t, line + CR);
        handleXonLine(line, t);
        return;
    }
    if (takeDisconnect(m_xonLine, b, t))
        return;
    if (m_xonLine.size() < MaxLine)
        m_xonLine.append(b);
}

SimController *OrnaEngine::xonController()
{
    if (SimController *c = controller(m_lastAddressed))
        return c;
    return m_controllers.empty() ? nullptr : &m_controllers.front();
}

void OrnaEngine::handleXonLine(const QByteArray &line, double t)
{
    const QByteArray text = line.trimmed();
    if (text.isEmpty()) {
        note(t, QStringLiteral("empty line ignored"));
        return;
    }
    SimController *ctl = xonController();
    const double busy = m_cfg.busyMs / 1000.0;
    QList<ReplyPart> parts;
    if (strikes(SimFault::Holdoff)) {
        for (int i = 0; i < m_cfg.faults.holdoffCount; ++i)
            parts.append({QByteArray(1, XOFF), i == 0 ? 0.0 : m_cfg.faults.holdoffMs / 1000.0,
                          QStringLiteral("hold-off fault")});
    }
    const double firstGap = parts.isEmpty() ? 0.0 : m_cfg.faults.holdoffMs / 1000.0;

    QString why;
    QByteArray answer;
    if (text.startsWith('=')) {
        why = applyCommand(ctl, text.mid(1), t);
    } else if (text.startsWith('?')) {
        const SimTableEntry *entry = lookup(text.mid(1).trimmed());
        if (!entry)
            why = QStringLiteral("unknown mnemonic, no value");
        else if (!ctl)
            why = QStringLiteral("no controller");
        else
            answer = ctl->readText(entry->readRegister, t) + CR;
    } else {
        why = QStringLiteral("neither command nor query");
    }
    parts.append({QByteArray(1, XOFF), firstGap});
    parts.append({XON + answer, busy, why});
    sendReply(t, parts);
}

// ---------------------------------------------------------------- shared

QString OrnaEngine::applyCommand(SimController *ctl, const QByteArray &text, double t)
{
    const QList<QByteArray> tokens = text.simplified().split(' ');
    if (tokens.size() != 2 || tokens[0].isEmpty())
        return QStringLiteral("expected mnemonic, blank, value");
    const SimTableEntry *entry = lookup(tokens[0]);
    if (!entry)
        return QStringLiteral("unknown mnemonic");
    if (entry->writeRegister == 0)
        return QStringLiteral("%1 is not writable").arg(QString::fromLatin1(entry->mnemonic));
    if (!ctl)
        return QStringLiteral("no controller");
    switch (ctl->writeText(entry->writeRegister, tokens[1], t)) {
    case SimController::WriteResult::Ok: return {};
    case SimController::WriteResult::NotANumber: return QStringLiteral("value is not a number");
    case SimController::WriteResult::OutOfRange: return QStringLiteral("value out of range");
    }
    return {};
}

const SimTableEntry *OrnaEngine::lookup(const QByteArray &mnemonic) const
{
    if (mnemonic.isEmpty())
        return nullptr;
    for (int slot = 1; slot <= 100; ++slot)
        if (!m_table[slot].isEmpty() && m_table[slot].mnemonic.compare(mnemonic, Qt::CaseInsensitive) == 0)
            return &m_table[slot];
    return nullptr;
}

bool OrnaEngine::strikes(SimFault fault)
{
    const SimTrigger &tr = trigger(fault);
    switch (tr.mode) {
    case SimTrigger::Off: return false;
    case SimTrigger::Always: return true;
    case SimTrigger::Once:
        if (++m_occasions[int(fault)] != tr.nth)
            return false;
        // Spent: the switch is off from now on, as faults() then says.
        m_cfg.faults.*simFaultInfo(fault).trigger = SimTrigger::off();
        m_occasions[int(fault)] = 0;
        return true;
    case SimTrigger::Rate: return std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < tr.rate;
    }
    return false;
}

// Lower-case letters: they end none of the program's waits.
QByteArray OrnaEngine::strayLetters(int count)
{
    QByteArray s(qMax(0, count), 'x');
    std::uniform_int_distribution<int> letter('a', 'z');
    for (char &c : s)
        c = char(letter(m_rng));
    return s;
}

// Queues a reply to a message that ended at tTrigger, with the faults that
// apply to every reply.
void OrnaEngine::sendReply(double tTrigger, QList<ReplyPart> parts)
{
    const bool drop = strikes(SimFault::Drop);
    const bool silence = strikes(SimFault::Silence);
    const bool babble = strikes(SimFault::Babble);
    const bool noise = strikes(SimFault::Noise);
    const bool delay = strikes(SimFault::Delay);

    double at = tTrigger + m_cfg.turnaroundMs / 1000.0;
    if (drop) {
        note(tTrigger, QStringLiteral("drop fault: the line goes down instead of the reply"));
        scheduleHangUp(at);
        return;
    }
    if (silence) {
        note(tTrigger, QStringLiteral("silence fault: reply lost"));
        return;
    }
    if (babble) {
        parts = {{strayLetters(m_cfg.faults.babbleBytes), 0.0, QStringLiteral("babble fault: no terminator")}};
    }
    if (noise && m_cfg.faults.noiseBytes > 0)
        parts.prepend({strayLetters(m_cfg.faults.noiseBytes), 0.0, QStringLiteral("noise fault")});
    if (delay) {
        at += m_cfg.faults.delayMs / 1000.0;
        QString &n = parts.front().note;
        n = QStringLiteral("delay fault +%1 ms").arg(m_cfg.faults.delayMs) + (n.isEmpty() ? QString() : QStringLiteral("; ") + n);
    }
    for (const ReplyPart &part : parts) {
        if (part.bytes.isEmpty())
            continue;
        at = schedule(at + part.gapSeconds, part.bytes, part.note);
    }
}

double OrnaEngine::schedule(double earliest, QByteArray bytes, const QString &noteText)
{
    if (m_cfg.line.dataBits == 7)
        for (char &c : bytes)
            c = char(c & 0x7F);
    if (m_queued + bytes.size() > kMaxQueuedOutput) {
        note(earliest, QStringLiteral("transmit queue full (%1 bytes waiting): %2 bytes dropped")
                           .arg(m_queued)
                           .arg(bytes.size()));
        return qMax(earliest, m_lineFree);
    }
    const double charSeconds = m_cfg.unpaced ? 0.0 : m_cfg.line.characterSeconds();
    const double start = qMax(earliest, m_lineFree);
    m_queued += bytes.size();
    m_out.push_back({start, bytes, charSeconds, 0, noteText, false});
    m_lineFree = start + double(bytes.size()) * charSeconds;
    return m_lineFree;
}

void OrnaEngine::scheduleHangUp(double at)
{
    m_hangUpScheduled = true;
    m_out.push_back({qMax(at, m_lineFree), {}, 0.0, 0, {}, true});
}

// ---------------------------------------------------------------- output

QList<SimOut> OrnaEngine::takeDue(double tNow)
{
    constexpr double eps = 1e-9;
    QList<SimOut> out;
    while (!m_out.empty()) {
        Segment &s = m_out.front();
        if (s.hangUp) {
            if (s.start <= tNow + eps) {
                note(s.start, QStringLiteral("line dropped"));
                out.append({s.start, {}, true});
                m_out.clear();
                m_queued = 0;
                m_dropped = true;
            }
            break;
        }
        qsizetype due = s.bytes.size();
        if (!std::isinf(tNow) && s.charSeconds > 0) {
            const double k = std::floor((tNow - s.start) / s.charSeconds + eps);
            due = k < 0 ? 0 : qMin<qsizetype>(s.bytes.size(), qsizetype(k));
        }
        if (due <= s.sent)
            break;
        if (s.sent == 0)
            log(SimFrame::ToHost, s.start, s.bytes, s.note);
        out.append({s.start + double(s.sent + 1) * s.charSeconds, s.bytes.mid(s.sent, due - s.sent)});
        m_queued -= due - s.sent;
        s.sent = due;
        if (s.sent < s.bytes.size())
            break;
        m_out.pop_front();
    }
    return out;
}

double OrnaEngine::nextDueTime() const
{
    if (m_out.empty())
        return std::numeric_limits<double>::infinity();
    const Segment &s = m_out.front();
    return s.hangUp ? s.start : s.start + double(s.sent + 1) * s.charSeconds;
}

void OrnaEngine::log(SimFrame::Kind kind, double t, const QByteArray &bytes, const QString &noteText)
{
    if (m_hook)
        m_hook(SimFrame{kind, t, bytes, noteText});
}
