// SPDX-License-Identifier: MIT
#include "support/FakeSeams.h"

UiSeams::Answer FakeSeams::askYesNoCancel(QWidget *, const QString &text, const QString &title)
{
    questions << title + QLatin1Char('|') + text;
    return answers.isEmpty() ? Cancel : answers.takeFirst();
}

void FakeSeams::runPortsDialog(frmPorts &d)
{
    ++dialogRuns;
    if (dialog)
        dialog(d);
}
