// SPDX-License-Identifier: MIT
#include "modes/ModeOperations.h"

#include "exchange/OperationHost.h"

#include <optional>

void ScpiButton(OperationHost &host)
{
    host.view().hideError();
    if (host.requirePort() && host.drainInput())
        RunActs(ScpiButtonActs(), host);
}

void DisconnectButton(OperationHost &host)
{
    host.view().hideError();
    if (host.requirePort() && host.drainInput())
        RunActs(DisconnectActs(), host);
}

void XonXoffButton(OperationHost &host)
{
    host.apply(Act::viewChange(ModeView::XonXoffButton));
}

void SetAddressButton(OperationHost &host, const QByteArray &typed)
{
    host.view().hideError();
    host.state().AddrSetFlg = false;
    // The text as checked is the text sent and shown, even if the entry is
    // edited while the wait runs.
    const std::optional<QByteArray> address = LinkAddress(typed);
    if (!address) {
        host.view().beep();
        host.reportError(QStringLiteral("Address value not 0 to 32, re-enter"));
    } else {
        host.state().AddrStr = *address;
        if (host.requirePort() && host.drainInput()) {
            host.linkOpening();
            RunExchange(*LinkOpenExchange(host.state().AddrStr, typed), host);
        }
    }
    host.apply(Act::viewChange(ModeView::LinkTried));
}
