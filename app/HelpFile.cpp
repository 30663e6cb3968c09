// SPDX-License-Identifier: MIT
#include "app/HelpFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString helpFileName()
{
    return QStringLiteral("OrnaSer_Kybd_help.chm");
}

QStringList helpFolders()
{
    QStringList folders{QDir::currentPath()};
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders << QDir(data).filePath(QStringLiteral("ornasertest"));
    folders << QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/ornasertest"));
    folders.removeDuplicates();
    return folders;
}

QString findHelpFile()
{
    for (const QString &folder : helpFolders()) {
        QString path = QDir(folder).absoluteFilePath(helpFileName());
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}
