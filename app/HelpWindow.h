// SPDX-License-Identifier: MIT
#pragma once
// The program's own help: the user guide, built into the program, shown in
// a window of its own beside the main window. Links within the guide go to
// their section; Escape closes the window.

#include <QWidget>

class QTextBrowser;

class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    QTextBrowser *txtHelp = nullptr;

    // The guide's source: a Markdown text among the program's resources.
    static QString guideSource();

private:
    void nameSections();
    void followLink(const QUrl &url);
};
