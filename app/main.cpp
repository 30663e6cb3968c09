// SPDX-License-Identifier: MIT
#include "app/CommandLine.h"
#include "app/SignalExit.h"
#include "session/ExitSignals.h"
#include "app/Logo.h"
#include "app/frmMain.h"
#include "sim/SimulatedLine.h"

#include <QApplication>

namespace {
// --help and --version print and end: they need no display, so without one
// the application object is made on the offscreen platform.
void noDisplayNeededToAnswer(int argc, char *argv[])
{
    const QByteArrayList answers{"-h", "--help", "--help-all", "-v", "--version"};
    bool answer = false;
    for (int i = 1; i < argc; ++i)
        answer = answer || answers.contains(QByteArray(argv[i]));
    if (answer && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
} // namespace

int main(int argc, char *argv[])
{
    noDisplayNeededToAnswer(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrnaSerTest"));
    QApplication::setApplicationVersion(QStringLiteral(ORNA_VERSION));
    if (const std::optional<int> end = answerCommandLine(QApplication::arguments()))
        return *end;
    QApplication::setDesktopFileName(QStringLiteral("ornasertest"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ornasertest"), QIcon(vekLogo(64))));
    frmMain w;
    SimulatedLine simulator(w.portMap());
    installSimulatorMenu(w, simulator.host());
    ExitSignals exitSignals;
    exitOnSignals(exitSignals, w);
    w.show();
    return exitSignals.exitStatus(app.exec());
}
