// SPDX-License-Identifier: MIT
#pragma once
// A push button whose fixed caption is padded with a run of blanks where the
// caption was meant to break onto a second line, such as
// " Set Address and          Open Link". It shows the caption on two lines,
// broken where the blanks fall, while text() and the accessible name stay the
// caption character for character. Captions without such a run look and
// size exactly as a plain QPushButton.

#include <QPushButton>

class CaptionButton : public QPushButton
{
    Q_OBJECT
public:
    explicit CaptionButton(const QString &caption, QWidget *parent = nullptr);

    // The caption as painted: every run of three or more blanks becomes a
    // line break; blanks at either end are dropped.
    static QString shownText(const QString &caption);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
