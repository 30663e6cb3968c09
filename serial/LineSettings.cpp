// SPDX-License-Identifier: MIT
#include "serial/LineSettings.h"

#include <QStringList>

QString LineSettings::text() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QChar(parity)).arg(dataBits).arg(stopBits);
}

std::optional<LineSettings> parseLineSettings(const QString &text, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<LineSettings> {
        if (error)
            *error = QStringLiteral("Invalid port settings \"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return fail(QStringLiteral("expected baud,parity,bits,stop such as 9600,N,8,1"));

    LineSettings s;
    bool ok = false;
    s.baud = parts[0].toInt(&ok);
    if (!ok || (s.baud != 1200 && s.baud != 2400 && s.baud != 9600 && s.baud != 19200 && s.baud != 38400))
        return fail(QStringLiteral("baud rate must be 1200, 2400, 9600, 19200 or 38400"));
    if (parts[1].size() != 1 || !QStringLiteral("NOE").contains(parts[1]))
        return fail(QStringLiteral("parity must be N, O or E"));
    s.parity = parts[1].at(0).toLatin1();
    s.dataBits = parts[2].toInt(&ok);
    if (!ok || (s.dataBits != 7 && s.dataBits != 8))
        return fail(QStringLiteral("data bits must be 7 or 8"));
    if ((s.dataBits == 8) != (s.parity == 'N'))
        return fail(QStringLiteral("character format must be 7 bits with odd or even parity, or 8 bits with none"));
    s.stopBits = parts[3].toInt(&ok);
    if (!ok || s.stopBits != 1)
        return fail(QStringLiteral("stop bits must be 1"));
    return s;
}
