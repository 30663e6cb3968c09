// SPDX-License-Identifier: MIT
#include "app/HelpWindow.h"

#include <QAction>
#include <QLabel>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

// The resource lives in a static library: it is registered by name.
static void registerGuide()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(help);
        return true;
    }();
    Q_UNUSED(registered);
}

QString HelpWindow::guideSource()
{
    return QStringLiteral("qrc:/help/user-guide.md");
}

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    registerGuide();
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("OrnaSerTest Help"));
    setAttribute(Qt::WA_QuitOnClose, false);
    txtHelp = new QTextBrowser;
    txtHelp->setObjectName(QStringLiteral("txtHelp"));
    txtHelp->setAccessibleName(QStringLiteral("Help"));
    txtHelp->setOpenLinks(false);
    txtHelp->setSource(QUrl(guideSource()), QTextDocument::MarkdownResource);
    nameSections();
    connect(txtHelp, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    lblNotice = new QLabel;
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setWordWrap(true);
    lblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblNotice->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; color: black; padding: 6px; }"));
    lblNotice->hide();
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(lblNotice);
    outer->addWidget(txtHelp);
    resize(760, 640);

    auto *close = new QAction(this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void HelpWindow::setNotice(const QString &text)
{
    lblNotice->setText(text);
    lblNotice->setVisible(!text.isEmpty());
}

// Headings get the names the guide's links use: "## 1. Open the line" is
// "#1-open-the-line", as on the project's pages.
void HelpWindow::nameSections()
{
    QTextDocument *doc = txtHelp->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().headingLevel() == 0)
            continue;
        QString slug;
        for (QChar c : b.text().toLower()) {
            if (c.isLetterOrNumber() || c == u'-' || c == u'_')
                slug += c;
            else if (c == u' ')
                slug += u'-';
        }
        QTextCursor cursor(b);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setAnchor(true);
        f.setAnchorNames({slug});
        cursor.mergeCharFormat(f);
    }
}

void HelpWindow::followLink(const QUrl &url)
{
    // Only the guide's own sections: other documents are not built in.
    if (url.hasFragment() && (url.path().isEmpty() || url.path().endsWith(QLatin1String("user-guide.md"))))
        txtHelp->scrollToAnchor(url.fragment());
}
