// SPDX-License-Identifier: MIT
#include "app/Logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap vekLogo(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1, 1, size - 2, size - 2);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
    g.setColorAt(1, QColor(0x0b, 0x2a, 0x52));
    QPainterPath path;
    path.addRoundedRect(r, size * 0.18, size * 0.18);
    p.fillPath(path, g);
    // A signal trace across the badge, for the serial line.
    QPen trace(QColor(0xf2, 0xa9, 0x00), qMax(1.0, size / 24.0));
    p.setPen(trace);
    const double y = size * 0.78, h = size * 0.08;
    QPainterPath wave;
    wave.moveTo(size * 0.12, y);
    for (int i = 0; i < 4; ++i) {
        const double x = size * (0.12 + 0.19 * i);
        wave.lineTo(x, y - h);
        wave.lineTo(x + size * 0.095, y - h);
        wave.lineTo(x + size * 0.095, y);
        wave.lineTo(x + size * 0.19, y);
    }
    p.drawPath(wave);
    QFont f(QStringLiteral("Sans"));
    f.setBold(true);
    f.setPixelSize(int(size * 0.42));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, size, size * 0.66), Qt::AlignCenter, QStringLiteral("VEK"));
    return pm;
}
