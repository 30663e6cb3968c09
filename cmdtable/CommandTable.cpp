// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/UiSeams.h"
#include "cmdtable/ExampleTable.h"
#include "exchange/Protocol.h"
#include "serial/PortObject.h"

#include <QComboBox>

namespace {
// The table lines are SCPI: in another language they would reach the
// controllers as selections or commands, so the operations refuse.
QString wrongModeMessage(const char *operation, const QByteArray &mode)
{
    return QStringLiteral("%1 works only in SCPI mode (current mode: %2); nothing was sent")
        .arg(QLatin1String(operation), QString::fromLatin1(mode));
}
} // namespace

// Writes the three example entries for an EZ-Zone or F4 controller into
// slots 1 to 3, then judges the load by the converter's event status.
// The whole load holds the line: clicks are refused and loop ticks skipped
// until it ends.
void frmMain::cmdLdCmdTable_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (cmdMode != "SCPI") {
        reportError(wrongModeMessage("Load Examples", cmdMode));
        return;
    }
    if (!requirePort())
        return;

    const UiSeams::Answer answer =
        m_seams->askYesNoCancel(this, QStringLiteral("Click Yes to load EZ-Zone registers, No to load F4 registers"),
                                QStringLiteral("Select target Modbus device"));
    if (answer == UiSeams::Cancel)
        return;
    const ExampleTable &table = answer == UiSeams::Yes ? kEzZoneTable : kF4Table;

    // The line is gone (or the program is ending): every further line would
    // go nowhere. The exchange has already said why in the error box.
    const auto lineGone = [this] { return m_line.stopWaits() || !MSComm1->PortOpen(); };

    for (int slot = 1; slot <= int(table.size()); ++slot) {
        combCmd->setEditText(QString::fromLatin1(TableAssignLine(slot, table[slot - 1])));
        runSend();
        if (lineGone()) {
            resultsReplace("Loading could not be confirmed: the line closed at slot " + QByteArray::number(slot));
            return;
        }
        Tdelay(0.1);
    }

    combCmd->setEditText(QStringLiteral("*ESR?"));
    const qint64 answeredBefore = RdgAnswers;
    runSend();
    // Only the answer to this "*ESR?" tells anything; an older Rdg does not.
    if (RdgAnswers == answeredBefore) {
        resultsReplace("Loading could not be confirmed: no answer to *ESR?");
        return;
    }
    if (NumericValue(Rdg) != 0)
        resultsReplace("Loading error, ESR Register = " + Rdg);
    else
        resultsReplace("Commands loaded");
}

// Lists the converter's table slot by slot until the first empty slot or
// slot 100. A slot that gets no answer is listed as such and the next slot
// is asked; a closed line, a flooded one (receive buffer overflow) or an
// ending program ends the read-back.
void frmMain::cmdRdCmdTable_Click()
{
    if (!tryBegin())
        return;
    BusyScope busy(*this);
    hideError();
    if (cmdMode != "SCPI") {
        reportError(wrongModeMessage("Read Table", cmdMode));
        return;
    }
    if (!requirePort())
        return;

    const QByteArray listing = ReadBackTable([this](int slot) {
        combCmd->setEditText(QString::fromLatin1(TableQueryLine(slot)));
        const qint64 answeredBefore = RdgAnswers;
        const qint64 overflowsBefore = m_overflows;
        runSend();
        TableSlotReply r;
        r.answered = RdgAnswers != answeredBefore;
        r.line = Rdg;
        r.stop = m_line.stopWaits() || !MSComm1->PortOpen() || m_overflows != overflowsBefore;
        return r;
    });
    resultsReplace(listing);
}
