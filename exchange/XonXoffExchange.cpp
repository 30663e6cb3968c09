#include "app/frmMain.h"

// Xon/Xoff command and query: built in their own change.
void frmMain::sendXonXoff()
{
    reportError(QStringLiteral("Xon/Xoff commands are not available in this build."));
}

void frmMain::queryXonXoff()
{
    reportError(QStringLiteral("Xon/Xoff queries are not available in this build."));
}
