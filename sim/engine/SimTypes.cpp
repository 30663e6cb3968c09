// SPDX-License-Identifier: MIT
#include "sim/engine/SimTypes.h"

#include "bytes/ControlNames.h"

QString simLanguageName(SimLanguage language)
{
    switch (language) {
    case SimLanguage::Scpi: return QStringLiteral("SCPI");
    case SimLanguage::X328: return QStringLiteral("X3.28");
    case SimLanguage::XonXoff: return QStringLiteral("XonXoff");
    }
    return {};
}

QString simModelName(SimModel model)
{
    return model == SimModel::F4 ? QStringLiteral("f4") : QStringLiteral("ezzone");
}

std::optional<SimModel> simModelFromName(QStringView name)
{
    const QString n = name.trimmed().toString().toLower().remove(QLatin1Char('-'));
    if (n == QLatin1String("ezzone") || n == QLatin1String("ez"))
        return SimModel::EzZone;
    if (n == QLatin1String("f4"))
        return SimModel::F4;
    return std::nullopt;
}

QByteArray SimTableEntry::toText() const
{
    if (isEmpty())
        return QByteArrayLiteral("0,0,0,0,0");
    return mnemonic + ',' + QByteArray::number(readRegister) + ',' + QByteArray::number(writeRegister)
        + ',' + QByteArray::number(extra1) + ',' + QByteArray::number(extra2);
}

QList<SimTableEntry> simExampleTable(SimModel model)
{
    if (model == SimModel::F4)
        return {{"SP1", 300, 300, 3, 1}, {"C1", 100, 0, 1, 1}, {"ID", 0, 0, 1, 1}};
    return {{"SP1", 2160, 2160, 6, 0}, {"C1", 360, 0, 4, 0}, {"SP9", 0, 0, 12, 0}};
}

QString SimLineFormat::formatName() const
{
    return QString::number(dataBits) + QLatin1Char(parity) + QString::number(stopBits);
}

bool SimLineFormat::setFormat(QStringView name)
{
    const QString n = name.trimmed().toString().toUpper();
    if (n == QLatin1String("8N1")) {
        dataBits = 8;
        parity = 'N';
    } else if (n == QLatin1String("7E1")) {
        dataBits = 7;
        parity = 'E';
    } else if (n == QLatin1String("7O1")) {
        dataBits = 7;
        parity = 'O';
    } else {
        return false;
    }
    stopBits = 1;
    return true;
}

std::optional<SimTrigger> SimTrigger::parse(QStringView text)
{
    const QString t = text.trimmed().toString().toLower();
    if (t == QLatin1String("off") || t == QLatin1String("never"))
        return off();
    if (t == QLatin1String("always") || t == QLatin1String("on"))
        return always();
    if (t == QLatin1String("once"))
        return once(1);
    bool ok = false;
    if (t.startsWith(QLatin1String("once:"))) {
        const int n = t.mid(5).toInt(&ok);
        if (ok && n >= 1)
            return once(n);
        return std::nullopt;
    }
    const QString rateText = t.startsWith(QLatin1String("rate:")) ? t.mid(5) : t;
    const double p = rateText.toDouble(&ok);
    if (ok && p >= 0.0 && p <= 1.0)
        return atRate(p);
    return std::nullopt;
}

QString SimTrigger::toString() const
{
    switch (mode) {
    case Off: return QStringLiteral("off");
    case Always: return QStringLiteral("always");
    case Once: return nth == 1 ? QStringLiteral("once") : QStringLiteral("once:%1").arg(nth);
    case Rate: return QStringLiteral("rate:%1").arg(rate);
    }
    return {};
}

QString simNameBytes(const QByteArray &bytes, int maxBytes)
{
    return nameBytes(bytes, maxBytes);
}

QString SimFrame::toLogLine() const
{
    QString line = QStringLiteral("%1  ").arg(time, 9, 'f', 3);
    switch (kind) {
    case FromHost: line += QLatin1String("host> ") + simNameBytes(bytes, 120); break;
    case ToHost: line += QLatin1String("sim > ") + simNameBytes(bytes, 120); break;
    case Note: line += QLatin1String("----  ") + note; return line;
    }
    if (!note.isEmpty())
        line += QLatin1String("  [") + note + QLatin1Char(']');
    return line;
}

int simAddressFromChar(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

char simAddressChar(int address)
{
    if (address >= 0 && address <= 9)
        return char('0' + address);
    if (address >= 10 && address <= 35)
        return char('A' + address - 10);
    return '?';
}

const SimFaultInfo (&simFaultCatalogue())[SimFaultCount]
{
    using F = SimFault;
    using S = SimFaults;
    static const SimFaultInfo catalogue[SimFaultCount] = {
        {F::Delay, "delay", "Reply delayed", "Fault: replies held back by --delay-ms more.", &S::delay,
         {{"delay-ms", &S::delayMs, "MS", "Extra delay of the delay fault (default 5000).", 600000}}},
        {F::Silence, "silence", "Reply lost (silence)", "Fault: replies lost on the line.", &S::silence, {}},
        {F::Nak, "nak", "NAK instead of ACK", "Fault: NAK instead of ACK to X3.28 selections and polls.", &S::nak, {}},
        {F::Noise, "noise", "Noise bytes before the reply", "Fault: --noise-bytes stray letters before replies.",
         &S::noise, {{"noise-bytes", &S::noiseBytes, "N", "Stray letters of the noise fault (default 3).", 65536}}},
        {F::Holdoff, "holdoff", "XOFF hold-off before the reply",
         "Fault: Xon/Xoff replies start with lone XOFFs and pauses.", &S::holdoff,
         {{"holdoff-count", &S::holdoffCount, "N", "Lone XOFFs of the holdoff fault (default 1).", 1000},
          {"holdoff-ms", &S::holdoffMs, "MS", "Pause after each lone XOFF (default 500).", 600000}}},
        {F::NoStx, "no-stx", "Data block without STX", "Fault: X3.28 poll data blocks sent without their STX.",
         &S::noStx, {}},
        {F::AfterEot, "after-eot", "Bytes after the closing EOT",
         "Fault: --after-eot-bytes stray letters after the closing EOT.", &S::afterEot,
         {{"after-eot-bytes", &S::afterEotBytes, "N", "Stray letters of the after-eot fault (default 2).", 65536}}},
        {F::Babble, "babble", "Endless stream without terminator",
         "Fault: --babble-bytes letters with no terminator instead of the reply.", &S::babble,
         {{"babble-bytes", &S::babbleBytes, "N", "Length of the babble stream (default 40000).", 1000000}}},
        {F::Drop, "drop", "Line dropped instead of the reply",
         "Fault: the line drops (device gone) instead of the reply.", &S::drop, {}},
    };
    return catalogue;
}

const SimFaultInfo &simFaultInfo(SimFault fault)
{
    return simFaultCatalogue()[int(fault)];
}
