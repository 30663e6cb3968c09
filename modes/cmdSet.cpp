// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include <QLineEdit>
#include <QPushButton>

// Checks the typed address, sends it with ENQ and waits for the ACK that opens
// the X3.28 link. cmdDisconnect ends enabled whatever happens.
void frmMain::cmdSet_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    AddrSetFlg = false;

    // The text as checked is the text sent and shown, even if the box is
    // edited while the wait runs.
    const QByteArray typed = txtAddr->text().toLatin1();
    const std::optional<QByteArray> address = LinkAddress(typed);
    if (!address) {
        beep();
        reportError(QStringLiteral("Address value not 0 to 32, re-enter"));
    } else {
        AddrStr = *address;
        if (requirePort() && drainInput()) {
            m_addrEditsAtLinkOpen = m_addrEdits;
            RunExchange(*LinkOpenExchange(AddrStr, typed), *this);
        }
    }
    cmdDisconnect->setEnabled(true);
}
