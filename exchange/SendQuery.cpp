// SPDX-License-Identifier: MIT
#include "exchange/SendQuery.h"

#include "exchange/OperationHost.h"
#include "exchange/Protocol.h"

namespace {
enum class Entry { Command, Query };

QByteArray entryText(OperationHost &host, Entry entry)
{
    return entry == Entry::Command ? host.view().commandText() : host.view().queryText();
}

// Takes the entry text, refilling it from CmdStr; false when there is
// nothing to send (reported).
bool takeEntry(OperationHost &host, Entry entry)
{
    BenchState &s = host.state();
    const QByteArray typed = entryText(host, entry);
    if (s.CmdStr.isEmpty() && typed.isEmpty()) {
        host.view().beep();
        host.reportError(QStringLiteral("Nothing to send"), false);
        return false;
    }
    // An empty entry repeats the last command or query.
    if (typed.isEmpty()) {
        if (entry == Entry::Command)
            host.view().setCommandText(s.CmdStr);
        else
            host.view().setQueryText(s.CmdStr);
    }
    s.CmdStr = entryText(host, entry);
    return true;
}

// The entry checks of the selection and the poll: "Nothing to send" first,
// then the open link, then the refill. The address check stands before the
// refill, so a refused exchange leaves the entry and CmdStr alone.
bool takeX328Entry(OperationHost &host, Entry entry)
{
    if (!host.state().AddrSetFlg && !(host.state().CmdStr.isEmpty() && entryText(host, entry).isEmpty())) {
        host.view().beep();
        host.reportError(QStringLiteral("Missing a device address"), false);
        return false;
    }
    return takeEntry(host, entry);
}

// Each branch: the open port, the drain, the entry checks, then the
// exchange itself (exchange/Exchange.h).
bool ready(OperationHost &host)
{
    return host.requirePort() && host.drainInput();
}

void reportUnknownMode(OperationHost &host)
{
    host.reportError(QStringLiteral("Unknown mode error, cmdMode$ = ") + QString::fromLatin1(host.state().cmdMode));
}
} // namespace

void SendAction(OperationHost &host)
{
    host.view().hideError();
    const QByteArray mode = host.state().cmdMode;
    if (mode == "SCPI") {
        if (ready(host) && takeEntry(host, Entry::Command))
            RunExchange(*ScpiExchange(host.state().CmdStr), host);
    } else if (mode == "X3.28") {
        if (!ready(host) || !takeX328Entry(host, Entry::Command))
            return;
        if (host.state().CmdStr == kEscape)
            RunActs(EscapeActs(), host);
        else
            RunExchange(*SelectExchange(host.state().CmdStr), host);
    } else if (mode == "XonXoff") {
        if (!ready(host) || !takeEntry(host, Entry::Command))
            return;
        if (host.state().CmdStr == kEscape)
            RunActs(EscapeActs(), host);
        else
            RunExchange(*XonCommandExchange(host.state().CmdStr), host);
    } else {
        reportUnknownMode(host);
    }
}

void QueryAction(OperationHost &host)
{
    const QByteArray mode = host.state().cmdMode;
    if (mode == "X3.28") {
        host.view().hideError();
        if (!ready(host) || !takeX328Entry(host, Entry::Query))
            return;
        PollOptions options;
        options.oneNak = [&host] { return host.view().oneNak(); };
        options.byteCount = [&host] { return host.view().byteCount(); };
        RunExchange(*PollExchange(host.state().CmdStr, options), host);
    } else if (mode == "XonXoff") {
        host.view().hideError();
        if (ready(host) && takeEntry(host, Entry::Query))
            RunExchange(*XonQueryExchange(host.state().CmdStr), host);
    } else {
        reportUnknownMode(host);
    }
}
