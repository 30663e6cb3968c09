// SPDX-License-Identifier: MIT
#include "app/UiSeams.h"

#include "serial/frmPorts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

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

namespace {
// Runs a tool of the desktop without waiting for it; `done` gets its exit
// status, -1 when it did not start or crashed, and what it printed. The
// process belongs to the application, not to the window: a viewer that the
// opener runs and waits for outlives the window that asked for it.
void runDesktopTool(const QString &program, const QStringList &arguments, QObject *context, bool wantOutput,
                    const std::function<void(int status, const QByteArray &output)> &done)
{
    auto *p = new QProcess(QCoreApplication::instance());
    p->setProgram(program);
    p->setArguments(arguments);
    p->setStandardInputFile(QProcess::nullDevice());
    // Its messages go where the program's own go; a viewer that it starts
    // never writes into a pipe that nobody reads.
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!wantOutput)
        p->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(p, &QProcess::finished, context, [p, done](int code, QProcess::ExitStatus how) {
        done(how == QProcess::NormalExit ? code : -1, p->readAllStandardOutput());
    });
    QObject::connect(p, &QProcess::errorOccurred, context, [done](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            done(-1, {});
    });
    QObject::connect(p, &QProcess::finished, p, &QObject::deleteLater);
    QObject::connect(p, &QProcess::errorOccurred, p, [p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            p->deleteLater();
    });
    p->start();
}

// What xdg-open's exit status means (its manual page).
QString openerFailure(int status)
{
    switch (status) {
    case -1: return QStringLiteral("xdg-open did not run to its end");
    case 1: return QStringLiteral("xdg-open refused its command line (status 1)");
    case 2: return QStringLiteral("xdg-open did not find the file (status 2)");
    case 3: return QStringLiteral("xdg-open found no program to open it (status 3)");
    case 4: return QStringLiteral("the program xdg-open started to open it failed (status 4)");
    default: return QStringLiteral("xdg-open ended with status %1").arg(status);
    }
}
} // namespace

void UiSeams::showHelp(QWidget *parent, const QString &path, const std::function<void(const QString &)> &failed)
{
    // QDesktopServices would report success as soon as the opener started:
    // the desktop's own tools are asked instead, and their answers awaited
    // in the event loop, so the window goes on at once.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        failed(QStringLiteral("Cannot show %1: no program to open it is installed (xdg-open is missing; "
                              "install the package xdg-utils).")
                   .arg(path));
        return;
    }
    QObject *context = parent ? static_cast<QObject *>(parent) : QCoreApplication::instance();
    auto open = [path, opener, context, failed] {
        runDesktopTool(opener, {path}, context, false, [path, failed](int status, const QByteArray &) {
            if (status != 0)
                failed(QStringLiteral("Cannot show %1: %2.").arg(path, openerFailure(status)));
        });
    };
    // The program the desktop opens this type of document with; none, and
    // the opener would try web browsers in turn, or fail.
    const QString type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (query.isEmpty()) {
        open();
        return;
    }
    runDesktopTool(query, {QStringLiteral("query"), QStringLiteral("default"), type}, context, true,
                   [path, type, failed, open](int status, const QByteArray &output) {
                       if (status == 0 && output.trimmed().isEmpty())
                           failed(QStringLiteral("Cannot show %1: no program on this desktop opens files of its "
                                                 "type (%2); a CHM viewer such as xchm opens it.")
                                      .arg(path, type));
                       else
                           open(); // an answer, or none that tells: the opener decides
                   });
}

QString UiSeams::askSaveFile(QWidget *parent, const QString &title, const QString &suggested, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

QString UiSeams::askOpenFile(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, QDir::currentPath(), filter);
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
