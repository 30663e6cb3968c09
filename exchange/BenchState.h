// SPDX-License-Identifier: MIT
#pragma once
// The state every operation of the bench shares: the language, the X3.28
// address, what was sent and answered last, and the loops' flags and count.
// Texts are byte strings, one byte per character.

#include <QByteArray>

struct BenchState
{
    QByteArray cmdMode = "SCPI"; // "SCPI", "X3.28" or "XonXoff"
    bool AddrSetFlg = false;     // the X3.28 link is open at the typed address
    QByteArray AddrStr;          // address character(s) sent before ENQ
    QByteArray CmdStr;           // text of the last command or query sent
    QByteArray OutStr;           // last framed string handed to Output
    QByteArray Rdg;              // reply line of the last answered SCPI query
    qint64 RdgAnswers = 0;       // SCPI queries answered so far (tells a fresh Rdg from a stale one)
    QByteArray CRLFStr = "\r\n"; // transcript line break
    qint64 LpCount = 0;          // loop ticks served
    int CMDloopFlg = 0;          // the device command loop runs
    int QloopFlg = 0;            // the query loop runs
};
