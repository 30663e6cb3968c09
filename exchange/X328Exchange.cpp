#include "app/frmMain.h"

// X3.28 selection and poll: built in their own change.
void frmMain::sendX328()
{
    reportError(QStringLiteral("X3.28 commands are not available in this build."));
}

void frmMain::escapeToScpi()
{
}

void frmMain::queryX328()
{
    reportError(QStringLiteral("X3.28 queries are not available in this build."));
}
