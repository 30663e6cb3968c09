// SPDX-License-Identifier: MIT
#include "support/LineRecord.h"

#include "serial/PortObject.h"

bool LineRecord::writeBytes(const QByteArray &bytes, bool frame)
{
    if (frame)
        outStr = bytes;
    if (port.Output(bytes))
        return true;
    writeRefused = true;
    return false;
}

RxResult LineRecord::awaitReply(const QList<QByteArray> &terminators, qint64 limit)
{
    RxResult r = ReplyWait(port, terminators, limit, hooks);
    waitPolls.append(r.polls);
    return r;
}

void LineRecord::apply(const Act &act)
{
    switch (act.kind) {
    case Act::Replace:
        transcript = act.bytes;
        states.append(transcript);
        break;
    case Act::Append:
        transcript += "\r\n" + act.bytes;
        states.append(transcript);
        break;
    case Act::Repaint:
        ++repaints;
        break;
    case Act::Error:
        error = act.text;
        break;
    case Act::Beep:
        ++beeps;
        break;
    case Act::Reply:
        replies.append(act.bytes);
        break;
    case Act::View:
        views.append(act.view);
        break;
    case Act::LinkOpened:
        linkOpened = true;
        break;
    case Act::NakUsed:
        ++nakUsed;
        break;
    case Act::Outcome:
        outcomes.append(act.outcome);
        break;
    case Act::HoldOff:
        ++holdOffs;
        break;
    case Act::WriteFrame:
    case Act::Write:
    case Act::Await:
        break;
    }
}
