#include "ZoFormBackground.h"

#include <QPainter>
#include <QWidget>

void ZoFormBackground::paint(QWidget *form, const QPixmap &background)
{
    QPainter painter(form);
    if (!background.isNull()) {
        painter.drawPixmap(form->rect(), background);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x55, 0x5A, 0x63));
    painter.setBrush(QColor(0x2B, 0x2F, 0x36));
    painter.drawRoundedRect(QRectF(form->rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}
