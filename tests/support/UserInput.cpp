// SPDX-License-Identifier: MIT
#include "support/UserInput.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace User {

bool showActive(QWidget *w)
{
    QWidget *top = w->window();
    top->show();
    top->activateWindow();
    return QTest::qWaitForWindowActive(top);
}

void click(QWidget *target)
{
    // A combo box's text area is its line edit; a click there focuses the box.
    if (auto *box = qobject_cast<QComboBox *>(target); box && box->lineEdit())
        target = box->lineEdit();
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->rect().center());
}

void key(Qt::Key k, Qt::KeyboardModifiers mods)
{
    QWindow *win = QGuiApplication::focusWindow();
    Q_ASSERT(win);
    QTest::keyClick(win, k, mods);
}

void type(const QString &text)
{
    QWindow *win = QGuiApplication::focusWindow();
    Q_ASSERT(win);
    for (QChar c : text)
        QTest::keyClick(win, c.toLatin1());
}

void typeInto(QWidget *box, const QString &text)
{
    click(box);
    key(Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        key(Qt::Key_Delete);
    else
        type(text);
}

} // namespace User
