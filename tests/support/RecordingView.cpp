// SPDX-License-Identifier: MIT
#include "support/RecordingView.h"

#include <cstring>

namespace {
int buttonIndex(const char *button)
{
    for (int i = 0; i < kViewButtonCount; ++i)
        if (std::strcmp(kViewButtons[i], button) == 0)
            return i;
    return -1;
}
} // namespace

bool RecordingView::isEnabled(const char *button) const
{
    const int i = buttonIndex(button);
    return i >= 0 && buttons[size_t(i)];
}

void RecordingView::setEnabled(const char *button, bool on)
{
    if (const int i = buttonIndex(button); i >= 0)
        buttons[size_t(i)] = on;
}

QString RecordingView::labels() const
{
    return QStringLiteral("SCPI:%1 X3.28:%2 XonXoff:%3").arg(lblSCPI).arg(lblX328).arg(lblXOnXoff);
}

QString RecordingView::enabledButtons() const
{
    QStringList on;
    for (int i = 0; i < kViewButtonCount; ++i)
        if (buttons[size_t(i)])
            on << QString::fromLatin1(kViewButtons[i]);
    return on.join(QLatin1Char(' '));
}

void RecordingView::applyViewRow(const ViewRow &row)
{
    const auto set = [](bool &shown, Tri on) {
        if (on != Tri::Keep)
            shown = on == Tri::On;
    };
    set(lblSCPI, row.lblSCPI);
    set(lblX328, row.lblX328);
    set(lblXOnXoff, row.lblXOnXoff);
    for (int i = 0; i < kViewButtonCount; ++i)
        set(buttons[size_t(i)], row.buttons[i]);
    if (row.cmdLbl)
        cmdLbl = QString::fromLatin1(row.cmdLbl);
    if (row.frmDevCmd)
        frmDevCmd = QString::fromLatin1(row.frmDevCmd);
    if (row.frmDevResp)
        frmDevResp = QString::fromLatin1(row.frmDevResp);
    if (row.focusEntry) {
        ++focusToCommand;
        command.clear();
    }
}

void RecordingView::sayBusy(bool on)
{
    if (on)
        ++busyNotices;
    busyNotice = on;
}

BenchView::Answer RecordingView::askYesNoCancel(const QString &text, const QString &title)
{
    questions << title + QLatin1Char('|') + text;
    return answers.isEmpty() ? Cancel : answers.takeFirst();
}
