#include "app/frmMain.h"

// Loading and reading the ANSI command table: built in their own change.
void frmMain::cmdLdCmdTable_Click()
{
    reportError(QStringLiteral("Load Examples is not available in this build."));
}

void frmMain::cmdRdCmdTable_Click()
{
    reportError(QStringLiteral("Read Table is not available in this build."));
}
