// SPDX-License-Identifier: MIT
#include "exchange/Protocol.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
QByteArray framed(const char *head, const QByteArray &text, const char *tail)
{
    QByteArray out(head);
    out += text;
    out += tail;
    return out;
}
} // namespace

QByteArray FrameScpi(const QByteArray &text) { return text + Ctl::LF; }
QByteArray FrameSelect(const QByteArray &text) { return framed("\x02= ", text, "\x03"); }
QByteArray FramePoll(const QByteArray &text) { return framed("\x02? ", text, "\x03"); }
QByteArray FrameXonCmd(const QByteArray &text) { return framed("= ", text, "\r"); }
QByteArray FrameXonQuery(const QByteArray &text) { return framed("? ", text, "\r"); }
QByteArray FrameDisconnect() { return QByteArray("\x10\x05", 2); }

namespace {
// The decimal digits of a byte's code, written at p; returns the end. (A
// listing of a full receive buffer has tens of thousands of them.)
char *writeCode(char *p, unsigned char c)
{
    if (c >= 100)
        *p++ = char('0' + c / 100);
    if (c >= 10)
        *p++ = char('0' + c / 10 % 10);
    *p++ = char('0' + c % 10);
    return p;
}

// Each code of the first `count` bytes, after a blank for its sign when
// asked, then a blank.
QByteArray listCodes(const QByteArray &buffer, qint64 count, bool signPlace)
{
    QByteArray out(count * 5, Qt::Uninitialized);
    char *p = out.data();
    for (qint64 i = 0; i < count; ++i) {
        if (signPlace)
            *p++ = ' ';
        p = writeCode(p, static_cast<unsigned char>(buffer[i]));
        *p++ = ' ';
    }
    out.truncate(p - out.constData());
    return out;
}
} // namespace

QByteArray ListCodes(const QByteArray &buffer, qint64 n)
{
    // A code with its sign place (a blank), then a blank.
    return listCodes(buffer, std::clamp<qint64>(n, 0, buffer.size()), true);
}

QByteArray ListNames(const QByteArray &buffer)
{
    QByteArray out;
    out.reserve(buffer.size() * 2);
    for (char c : buffer) {
        switch (c) {
        case Ctl::XOFF: out += "<Xoff>"; break;
        case Ctl::XON: out += "<Xon>"; break;
        case Ctl::CR: out += "<cr>"; break;
        default: out += c; break;
        }
    }
    return out;
}

QByteArray ListCodesPlain(const QByteArray &buffer)
{
    return listCodes(buffer, buffer.size(), false);
}

double NumericValue(const QByteArray &text)
{
    QByteArray s;
    s.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;
    // Take the longest prefix that forms sign, digits, fraction, exponent.
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    qsizetype end = i;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        qsizetype j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-'))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && s[j] >= '0' && s[j] <= '9') {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            end = j;
    }
    const QByteArray number = s.left(end);
    bool ok = false;
    const double v = number.toDouble(&ok); // C locale, whatever the user's
    if (ok && std::isfinite(v))
        return v;
    // Out of the range of a double: a number too large is infinite, and one
    // too small but not zero keeps its sign; neither counts as 0.
    const bool negative = s.startsWith('-');
    bool nonZero = false;
    for (qsizetype k = 0; k < i; ++k)
        nonZero = nonZero || (s[k] >= '1' && s[k] <= '9');
    if (!nonZero)
        return 0.0;
    // The exponent, when there is one, starts at i: 'e', then its sign.
    const bool tiny = end > i && s[i + 1] == '-';
    const double magnitude = tiny ? std::numeric_limits<double>::denorm_min() : std::numeric_limits<double>::infinity();
    return negative ? -magnitude : magnitude;
}

QByteArray SignedNumberText(qint64 value)
{
    return value < 0 ? QByteArray::number(value) : ' ' + QByteArray::number(value);
}

qint64 PositionOf(const QByteArray &buffer, char c)
{
    return buffer.indexOf(c) + 1;
}

bool ContainsAny(const QByteArray &buffer, const QList<QByteArray> &terminators)
{
    for (const QByteArray &t : terminators)
        if (!t.isEmpty() && buffer.contains(t))
            return true;
    return false;
}
