// SPDX-License-Identifier: MIT
#include "app/SignalExit.h"

#include "app/frmMain.h"
#include "session/ExitSignals.h"

#include <QApplication>
#include <QDialog>

void exitOnSignals(ExitSignals &source, frmMain &window)
{
    QObject::connect(&source, &ExitSignals::exitRequested, &window, [&window] {
        // A modal dialog or question holds the operation that opened it:
        // answered as by Escape, so that operation ends and the exit follows.
        if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            modal->reject();
        window.cmdExit_Click();
    });
}
