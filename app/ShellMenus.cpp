// SPDX-License-Identifier: MIT
// The menu commands every desktop program has: Quit, which is the Exit
// button; the user guide, directly; and About.

#include "app/HelpWindow.h"
#include "app/LineMonitorView.h"
#include "app/Logo.h"
#include "app/frmMain.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

namespace {
// Where the licence and the two manuals stand as files: the documentation
// folder of an installed program, else the source tree a build folder lies
// in. Empty when neither is there.
struct DocFiles
{
    QString licence, guide, simulator;
};

DocFiles findDocFiles()
{
    const QDir bin(QCoreApplication::applicationDirPath());
    const QString installed = QDir::cleanPath(bin.filePath(QStringLiteral("../share/doc/ornasertest")));
    if (QFileInfo::exists(installed + QStringLiteral("/copyright")))
        return {installed + QStringLiteral("/copyright"), installed + QStringLiteral("/docs/user-guide.md"),
                installed + QStringLiteral("/sim/tool/README.md")};
    const QString tree = QDir::cleanPath(bin.filePath(QStringLiteral("..")));
    if (QFileInfo::exists(tree + QStringLiteral("/LICENSE")))
        return {tree + QStringLiteral("/LICENSE"), tree + QStringLiteral("/docs/user-guide.md"),
                tree + QStringLiteral("/sim/tool/README.md")};
    return {};
}
} // namespace

void frmMain::buildShellMenus()
{
    actQuit = new QAction(QStringLiteral("&Quit"), this);
    actQuit->setObjectName(QStringLiteral("actQuit"));
    actQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    actQuit->setMenuRole(QAction::QuitRole);
    actQuit->setToolTip(QStringLiteral("As the Exit button: ends an open X3.28 link, closes the port, ends the program"));
    connect(actQuit, &QAction::triggered, this, &frmMain::cmdExit_Click);
    mnuLine->addSeparator();
    mnuLine->addAction(actQuit);
    // The floating monitor answers it too, as it does the other keys.
    monitorView->addAction(actQuit);

    actUserGuide = new QAction(QStringLiteral("&User Guide"), this);
    actUserGuide->setObjectName(QStringLiteral("actUserGuide"));
    connect(actUserGuide, &QAction::triggered, this, &frmMain::actUserGuide_Click);
    actAbout = new QAction(QStringLiteral("&About OrnaSerTest"), this);
    actAbout->setObjectName(QStringLiteral("actAbout"));
    actAbout->setMenuRole(QAction::AboutRole);
    connect(actAbout, &QAction::triggered, this, &frmMain::actAbout_Click);
    mnuHelp->addAction(actUserGuide);
    mnuHelp->addSeparator();
    mnuHelp->addAction(actAbout);
}

void frmMain::actUserGuide_Click()
{
    showGuide();
}

void frmMain::showGuide(const QString &brief, const QString &why)
{
    if (!m_help)
        m_help = new HelpWindow(this);
    m_help->setNotice(why);
    if (!brief.isEmpty())
        statusBar()->showMessage(brief, 15000);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

// Not modal: the window and a running loop go on while it is open.
void frmMain::actAbout_Click()
{
    if (!m_about) {
        const DocFiles docs = findDocFiles();
        QString text = QStringLiteral("<h3>OrnaSerTest %1</h3><p>Bench test utility for the Orna protocol "
                                      "converter.</p><p>Copyright (c) 2026 The OrnaSerTest developers.<br>"
                                      "Free software under the MIT License")
                           .arg(QStringLiteral(ORNA_VERSION));
        text += docs.licence.isEmpty() ? QStringLiteral(" (the file LICENSE).</p>")
                                       : QStringLiteral(": %1</p>").arg(docs.licence.toHtmlEscaped());
        text += QStringLiteral("<p>User guide: built in, Help &gt; User Guide");
        if (!docs.guide.isEmpty())
            text += QStringLiteral("; as a file, %1").arg(docs.guide.toHtmlEscaped());
        text += QStringLiteral(".</p><p>The simulator <b>orna-sim</b>: <tt>man orna-sim</tt>, <tt>orna-sim "
                               "--help</tt>");
        if (!docs.simulator.isEmpty())
            text += QStringLiteral(", %1").arg(docs.simulator.toHtmlEscaped());
        text += QStringLiteral(".</p><p>Plans: Plan &gt; Record Plan and Run Plan, and <b>orna-run</b> without a "
                               "window (<tt>man orna-run</tt>); the format in docs/plans.md.</p>");
        m_about = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About OrnaSerTest"), text, QMessageBox::Ok,
                                  this);
        m_about->setObjectName(QStringLiteral("frmAbout"));
        m_about->setTextFormat(Qt::RichText);
        m_about->setIconPixmap(vekLogo(64));
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setModal(false);
        connect(m_about, &QObject::destroyed, this, [this] { m_about = nullptr; });
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
