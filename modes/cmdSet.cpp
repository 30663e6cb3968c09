#include "app/frmMain.h"

// X3.28 address check and link open: built in its own change.
void frmMain::cmdSet_Click()
{
    reportError(QStringLiteral("Set Address and Open Link is not available in this build."));
}
