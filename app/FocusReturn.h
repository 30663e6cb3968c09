// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QWidget;

// Gives the keyboard to the main window when it is shown, and back to it
// when another window of the program closes, if no window is active then.
// A window manager does this on its own; without one (a bare X server, a
// kiosk session) the X server drops the focus on the root window, and typing
// after the port dialog or a message box would reach nothing until a click.
class FocusReturn : public QObject
{
public:
    explicit FocusReturn(QWidget *main);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void giveBack();

    QWidget *m_main;
    bool m_due = false;
};
