// SPDX-License-Identifier: MIT
// Renders the pictures of the documentation and the desktop icon, offscreen:
//   docs-art <docs-dir> <icon-dir>
// The main window is shown after a short session against the built-in
// simulated converter, so the transcript holds a real X3.28 poll.

#include "app/Logo.h"
#include "app/UiSeams.h"
#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/PortObject.h"
#include "serial/frmPorts.h"
#include "sim/SimulatedLine.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

namespace {
// Drives the port dialog as a user would: COM 1, then back to the window.
struct ScriptedSeams : UiSeams
{
    void beep() override {}
    void runPortsDialog(frmPorts &d) override
    {
        d.cmdCOM1_Click();
        d.cmdExit_Click();
    }
    void endProgram() override {}
};

// Lets the converter's late bytes (a prompt after a language switch) come in
// and be dropped, as they are between the steps of a person at the bench.
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(QWidget &w, const QString &path)
{
    w.adjustSize();
    QApplication::processEvents();
    return w.grab().save(path);
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString docs = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const QString icons = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("packaging/icons");
    QDir().mkpath(docs);
    QDir().mkpath(icons);

    bool ok = true;
    for (int size : {48, 64, 128, 256})
        ok = vekLogo(size).save(QDir(icons).filePath(QStringLiteral("ornasertest-%1.png").arg(size))) && ok;

    // No hardware: COM 1 is the simulated converter.
    ComPortMap map([] { return QList<SystemDevice>{}; });
    SimulatedLine simulator(map);
    ScriptedSeams seams;
    {
        frmMain w(nullptr, &seams, &map);
        installSimulatorMenu(w, simulator.host());
        w.Timer1->stop();
        w.show();
        w.cmdInit_Click();
        for (const char *cmd : {"*idn?", "SYST:LANG X3.28"}) {
            w.combCmd->setEditText(QString::fromLatin1(cmd));
            w.cmdSend_Click();
            settle(300);
        }
        w.txtAddr->setText(QStringLiteral("5"));
        w.cmdSet_Click();
        settle(300);
        w.combCmd->setEditText(QStringLiteral("SP1 100"));
        w.cmdSend_Click();
        settle(300);
        w.combQuery->setEditText(QStringLiteral("C1"));
        w.cmdQuery_Click();
        settle(100); // the transcript paints at the end of its display frame
        ok = save(w, QDir(docs).filePath(QStringLiteral("main-window.png"))) && ok;

        frmPorts *d = w.portsDialog();
        d->refreshDevices();
        d->show();
        ok = save(*d, QDir(docs).filePath(QStringLiteral("port-dialog.png"))) && ok;
        d->hide();
        w.MSComm1->PortOpen(false);
    }
    return ok ? 0 : 1;
}
