// SPDX-License-Identifier: MIT
#include "app/FocusReturn.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

FocusReturn::FocusReturn(QWidget *main) : QObject(main), m_main(main)
{
    qApp->installEventFilter(this);
}

bool FocusReturn::eventFilter(QObject *watched, QEvent *event)
{
    // The main window's showing counts too: without a window manager nothing
    // gives a new window the keyboard.
    const bool closed = event->type() == QEvent::Hide && watched != m_main && watched->isWidgetType() &&
                        static_cast<QWidget *>(watched)->isWindow();
    const bool shown = event->type() == QEvent::Show && watched == m_main;
    if ((closed || shown) && !m_due) {
        // Looked at once the hiding or showing is over and the system has
        // had its say.
        m_due = true;
        QTimer::singleShot(0, this, &FocusReturn::giveBack);
    }
    return false;
}

void FocusReturn::giveBack()
{
    m_due = false;
    if (!m_main->isVisible() || m_main->isMinimized() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return;
    // A closed window may still be named active until the system's focus
    // change arrives; without a window manager none arrives at all.
    const QWidget *active = QApplication::activeWindow();
    if (active && active->isVisible())
        return;
    m_main->activateWindow();
}
