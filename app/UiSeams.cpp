#include "app/UiSeams.h"

#include "serial/frmPorts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

void (*UiSeams::systemBeep)() = &QApplication::beep;

void UiSeams::beep()
{
    systemBeep();
}

UiSeams::Answer UiSeams::askYesNoCancel(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes: return Yes;
    case QMessageBox::No: return No;
    default: return Cancel;
    }
}

void UiSeams::runPortsDialog(frmPorts &dialog)
{
    dialog.exec();
}

void UiSeams::showHelp(QWidget *parent, const QString &path)
{
    Q_UNUSED(parent);
    // The desktop's viewer runs on its own; the window goes on at once.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void UiSeams::endProgram()
{
    QCoreApplication::quit();
}
