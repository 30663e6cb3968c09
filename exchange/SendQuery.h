// SPDX-License-Identifier: MIT
#pragma once
// The send action (Send, Enter in the command entry, the command loop, the
// table operations) and the query action (Send Query, Enter in the query
// entry, the query loop): one exchange in the current language, from the
// entry's text. The caller holds the line and counts the result.

class OperationHost;

// cmdSend: SCPI command or query, X3.28 selection, Xon/Xoff command; "@@@"
// in X3.28 or Xon/Xoff mode returns to SCPI.
void SendAction(OperationHost &host);
// cmdQuery: X3.28 poll or Xon/Xoff query; SCPI mode has none.
void QueryAction(OperationHost &host);
