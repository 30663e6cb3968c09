// SPDX-License-Identifier: MIT
#pragma once
// The buttons that move the program (and the converter) between its
// languages. The caller holds the line for the operation.

#include <QByteArray>

class OperationHost;

// cmdSCPI: the escape "@@@" (no terminator, no answer awaited), then the
// window set up for SCPI work. A write the port did not take is reported
// and the mode stays as it was.
void ScpiButton(OperationHost &host);
// cmdDisconnect: the X3.28 disconnect message DLE ENQ; X3.28 mode after it.
void DisconnectButton(OperationHost &host);
// cmdXonXoff: Xon/Xoff mode for the program alone; nothing is written.
void XonXoffButton(OperationHost &host);
// cmdSet: checks the typed address, sends it with ENQ and waits for the ACK
// that opens the X3.28 link. `typed` is the address entry's text.
// cmdDisconnect ends enabled whatever happens.
void SetAddressButton(OperationHost &host, const QByteArray &typed);
