// SPDX-License-Identifier: MIT
#pragma once
// The settings text of the serial line ("9600,N,8,1") and its checked form.

#include <QString>
#include <optional>

struct LineSettings
{
    int baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
    int dataBits = 8;  // 8 with 'N', 7 with 'O' or 'E'
    int stopBits = 1;

    // Bits on the wire per character: start, data, parity, stop.
    int bitsPerChar() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    QString text() const;
};

// Parses "baud,parity,bits,stop". Only the line formats the program offers
// are accepted: 1200, 2400, 9600, 19200 or 38400 baud; 7O1, 7E1 or 8N1.
// On refusal returns nothing and, when error is given, says why.
std::optional<LineSettings> parseLineSettings(const QString &text, QString *error = nullptr);
