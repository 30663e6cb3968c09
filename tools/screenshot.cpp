// Renders the main window and the port dialog to PNG files (offscreen), for
// the documentation: screenshot <output-dir>.

#include "app/frmMain.h"
#include "serial/frmPorts.h"
#include "sim/SimulatedLine.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    installSimulatedLine();
    frmMain w;
    w.show();
    w.adjustSize();
    QApplication::processEvents();
    bool ok = w.grab().save(QDir(out).filePath(QStringLiteral("main-window.png")));
    frmPorts *d = w.portsDialog();
    d->show();
    d->adjustSize();
    QApplication::processEvents();
    ok = d->grab().save(QDir(out).filePath(QStringLiteral("port-dialog.png"))) && ok;
    d->hide();
    return ok ? 0 : 1;
}
