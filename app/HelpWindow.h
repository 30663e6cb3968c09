// SPDX-License-Identifier: MIT
#pragma once
// The program's own help: the user guide, built into the program, shown in
// a window of its own beside the main window. Links within the guide go to
// their section; Escape closes the window. A line at its top can say why
// the help file is not shown instead.

#include <QWidget>

class QLabel;
class QTextBrowser;

class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    QTextBrowser *txtHelp = nullptr;
    QLabel *lblNotice = nullptr; // why the help file is not shown instead; hidden when empty

    // Shows the line at the guide's top, or hides it when `text` is empty.
    void setNotice(const QString &text);

    // The guide's source: a Markdown text among the program's resources.
    static QString guideSource();

private:
    void nameSections();
    void followLink(const QUrl &url);
};
