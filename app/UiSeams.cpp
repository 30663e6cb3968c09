// SPDX-License-Identifier: MIT
#include "app/UiSeams.h"

#include "serial/frmPorts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
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

QString UiSeams::showHelp(QWidget *parent, const QString &path)
{
    Q_UNUSED(parent);
    // The desktop's viewer runs on its own; the window goes on at once.
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return {};
    // Qt finds no launcher when xdg-open is missing and says so only on the
    // terminal.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        return QStringLiteral("Cannot show %1: no program to open it is installed (xdg-open is missing; "
                              "install the package xdg-utils)")
            .arg(path);
    return QStringLiteral("Cannot show %1: the desktop found no program to open it").arg(path);
}

QString UiSeams::askSaveFile(QWidget *parent, const QString &title, const QString &suggested, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

QString UiSeams::askFolder(QWidget *parent, const QString &title)
{
    return QFileDialog::getExistingDirectory(parent, title, QDir::currentPath());
}

void UiSeams::warn(QWidget *parent, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void UiSeams::endProgram()
{
    QCoreApplication::quit();
}
