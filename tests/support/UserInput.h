// SPDX-License-Identifier: MIT
#pragma once
// Input as the window system delivers it: the window shown and active, clicks
// at a widget's place in its window, keys to the window that has the focus.
// Focus proxies, completers, default buttons and shortcuts take part, as
// they do for a person at the keyboard.

#include <QString>
#include <Qt>

class QWidget;

namespace User {
// Shows the widget's window and waits until the desktop has made it active.
// False when the platform would not activate it.
bool showActive(QWidget *w);
// A left click at the middle of the widget.
void click(QWidget *target);
// One key (press and release) to the active window.
void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier);
// Characters typed one by one.
void type(const QString &text);
// Clicks into an entry box, selects everything in it and types over it.
void typeInto(QWidget *box, const QString &text);
} // namespace User
