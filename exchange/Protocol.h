// SPDX-License-Identifier: MIT
#pragma once
// The byte vocabulary shared by every exchange with the converter: control
// characters, the frames of the three languages, the listings of received
// bytes, and the small text rules (numeric value, number with a sign place).
// Pure functions: no port, no window.

#include <QByteArray>
#include <QList>

namespace Ctl {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr char LF = 0x0A;
constexpr char CR = 0x0D;
constexpr char DLE = 0x10;
constexpr char XON = 0x11;
constexpr char XOFF = 0x13;
constexpr char NAK = 0x15;
} // namespace Ctl

// Fixed texts of the dialogue.
inline constexpr char kPrompt[] = ">";
inline constexpr char kEscape[] = "@@@";

QByteArray FrameScpi(const QByteArray &text);     // text LF
QByteArray FrameSelect(const QByteArray &text);   // STX "= " text ETX
QByteArray FramePoll(const QByteArray &text);     // STX "? " text ETX
QByteArray FrameXonCmd(const QByteArray &text);   // "= " text CR
QByteArray FrameXonQuery(const QByteArray &text); // "? " text CR
QByteArray FrameDisconnect();                     // DLE ENQ

// Decimal listing of the first n bytes: " code " for each, so neighbouring
// codes stand two blanks apart. n is clamped to the buffer.
QByteArray ListCodes(const QByteArray &buffer, qint64 n);
// Named listing: XOFF "<Xoff>", XON "<Xon>", CR "<cr>", others as themselves.
QByteArray ListNames(const QByteArray &buffer);
// Decimal listing without the leading blank: "code " for each byte.
QByteArray ListCodesPlain(const QByteArray &buffer);

// Numeric value of a text: blanks, tabs and line feeds are removed wherever
// they stand, then the value of the number the rest begins with (sign,
// digits, decimal point and fraction, exponent); 0 when it begins with none.
double NumericValue(const QByteArray &text);
// Integer written with a sign place: a blank before a non-negative number,
// the minus sign before a negative one (6 -> " 6", -3 -> "-3").
QByteArray SignedNumberText(qint64 value);

// Position (from 1) of the first occurrence of c, 0 when absent.
qint64 PositionOf(const QByteArray &buffer, char c);
// True when any of the terminators (single bytes or texts) occurs in buffer.
bool ContainsAny(const QByteArray &buffer, const QList<QByteArray> &terminators);
