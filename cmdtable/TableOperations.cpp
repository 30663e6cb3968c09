// SPDX-License-Identifier: MIT
#include "cmdtable/TableOperations.h"

#include "cmdtable/ExampleTable.h"
#include "exchange/OperationHost.h"
#include "exchange/Protocol.h"

namespace {
// The table lines are SCPI: in another language they would reach the
// controllers as selections or commands, so the operations refuse.
bool inScpiMode(OperationHost &host, const char *operation)
{
    if (host.state().cmdMode == "SCPI")
        return true;
    host.reportError(QStringLiteral("%1 works only in SCPI mode (current mode: %2); nothing was sent")
                         .arg(QLatin1String(operation), QString::fromLatin1(host.state().cmdMode)));
    return false;
}
} // namespace

std::optional<BenchView::Answer> LoadExampleTable(OperationHost &host, std::optional<BenchView::Answer> given)
{
    host.view().hideError();
    if (!inScpiMode(host, "Load Examples") || !host.requirePort())
        return std::nullopt;
    const BenchView::Answer answer =
        given ? *given
              : host.view().askYesNoCancel(QStringLiteral("Click Yes to load EZ-Zone registers, No to load F4 registers"),
                                           QStringLiteral("Select target Modbus device"));
    if (answer == BenchView::Cancel)
        return answer;
    const ExampleTable &table = answer == BenchView::Yes ? kEzZoneTable : kF4Table;

    for (int slot = 1; slot <= int(table.size()); ++slot) {
        host.view().setCommandText(TableAssignLine(slot, table[slot - 1]));
        host.runSend();
        // The line is gone (or the program is ending): every further line
        // would go nowhere. The exchange has already said why in the error box.
        if (host.lineGone()) {
            host.resultsReplace("Loading could not be confirmed: the line closed at slot " + QByteArray::number(slot));
            return answer;
        }
        host.delay(0.1);
    }

    BenchState &s = host.state();
    host.view().setCommandText("*ESR?");
    const qint64 answeredBefore = s.RdgAnswers;
    host.runSend();
    // Only the answer to this "*ESR?" tells anything; an older Rdg does not.
    if (s.RdgAnswers == answeredBefore)
        host.resultsReplace("Loading could not be confirmed: no answer to *ESR?");
    else if (NumericValue(s.Rdg) != 0)
        host.resultsReplace("Loading error, ESR Register = " + s.Rdg);
    else
        host.resultsReplace("Commands loaded");
    return answer;
}

// A slot that gets no answer is listed as such and the next slot is asked;
// a closed line, a flooded one (receive buffer overflow) or an ending
// program ends the read-back.
void ReadCommandTable(OperationHost &host)
{
    host.view().hideError();
    if (!inScpiMode(host, "Read Table") || !host.requirePort())
        return;
    const QByteArray listing = ReadBackTable([&host](int slot) {
        BenchState &s = host.state();
        host.view().setCommandText(TableQueryLine(slot));
        const qint64 answeredBefore = s.RdgAnswers;
        const qint64 overflowsBefore = host.overflows();
        host.runSend();
        TableSlotReply r;
        r.answered = s.RdgAnswers != answeredBefore;
        r.line = s.Rdg;
        r.stop = host.lineGone() || host.overflows() != overflowsBefore;
        return r;
    });
    host.resultsReplace(listing);
}
