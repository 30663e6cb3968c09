// SPDX-License-Identifier: MIT
#include "serial/CaptionButton.h"

#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStylePainter>

CaptionButton::CaptionButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    setAccessibleName(caption);
}

QString CaptionButton::shownText(const QString &caption)
{
    static const QRegularExpression run(QStringLiteral(" {3,}"));
    QString shown = caption.trimmed();
    shown.replace(run, QStringLiteral("\n"));
    return shown;
}

QSize CaptionButton::sizeHint() const
{
    const QString shown = shownText(text());
    if (shown == text())
        return QPushButton::sizeHint();
    // As QPushButton measures itself, but with the broken caption.
    ensurePolished();
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text = shown;
    QSize contents = fontMetrics().size(Qt::TextShowMnemonic, shown);
    if (menu())
        contents.rwidth() += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &opt, this);
    return style()->sizeFromContents(QStyle::CT_PushButton, &opt, contents, this);
}

QSize CaptionButton::minimumSizeHint() const
{
    return sizeHint();
}

void CaptionButton::paintEvent(QPaintEvent *event)
{
    const QString shown = shownText(text());
    if (shown == text()) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text = shown;
    p.drawControl(QStyle::CE_PushButton, opt);
}
