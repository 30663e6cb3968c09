// SPDX-License-Identifier: MIT
#pragma once
// The byte vocabulary's names, shared by both ends of the line (the line
// monitor and the simulated converter's frame log): control characters by
// name in angle brackets ("<STX>", "<CR>", "<XOFF>"), DEL as "<DEL>", bytes
// above 127 and "<" itself as "<xHH>", so every "<" starts a name.

#include <QByteArray>
#include <QString>

inline QString nameBytes(const QByteArray &bytes, qsizetype maxBytes = 0)
{
    static const char *const controlNames[32] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "XON", "DC2", "XOFF", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    const qsizetype shown = (maxBytes > 0 && bytes.size() > maxBytes) ? maxBytes : bytes.size();
    QString text;
    text.reserve(shown + 16);
    for (qsizetype i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c < 32)
            text += QLatin1Char('<') + QLatin1String(controlNames[c]) + QLatin1Char('>');
        else if (c == 127)
            text += QLatin1String("<DEL>");
        else if (c > 127 || c == '<')
            text += QLatin1String("<x") + QString::number(c, 16).toUpper() + QLatin1Char('>');
        else
            text += QLatin1Char(char(c));
    }
    if (shown < bytes.size())
        text += QStringLiteral("...(+%1 bytes)").arg(bytes.size() - shown);
    return text;
}
