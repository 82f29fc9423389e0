#include "ZoDialogWidget.h"

ZoDialogWidget::ZoDialogWidget(unsigned shadowWidth, bool maximizeAllowed, QWidget *parent)
    : QWidget(parent)
    , m_shadowWidth(shadowWidth)
    , m_maximizeAllowed(maximizeAllowed)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setMouseTracking(true);
    setStyleSheet(QStringLiteral("background-color:#292C31;color:white;"
                                 "font-family:\"微软雅黑\";font-size:10pt;"));
}

void ZoDialogWidget::paintEvent(QPaintEvent *event)
{
    // Nothing of its own: the filled background is all there is.
    Q_UNUSED(event);
}
