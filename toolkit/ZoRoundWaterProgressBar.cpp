#include "ZoRoundWaterProgressBar.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QtMath>

#include <algorithm>

namespace {
const QColor kRingColor(255, 97, 0);
constexpr int kTickMs = 100;
}

ZoRoundWaterProgressBar::ZoRoundWaterProgressBar(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &ZoRoundWaterProgressBar::onUpdateRingWave);
}

bool ZoRoundWaterProgressBar::isAnimating() const
{
    return m_timer->isActive();
}

void ZoRoundWaterProgressBar::updateTicking()
{
    // A list holds a ring per module: hidden or finished rings would each
    // wake the window ten times a second, between the blocks of a transfer.
    if (isVisible() && !finished())
        m_timer->start();
    else
        m_timer->stop();
}

void ZoRoundWaterProgressBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTicking();
}

void ZoRoundWaterProgressBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTicking();
}

void ZoRoundWaterProgressBar::setRange(int minimum, int maximum)
{
    // A reversed range would make every percentage negative; collapse it the
    // way QProgressBar does, and keep the value inside.
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    m_value = std::clamp(m_value, m_minimum, m_maximum);
    updateTicking();
    update();
}

void ZoRoundWaterProgressBar::setValue(int value)
{
    // A value past the maximum would read over 100 % with water above the
    // rim; it means "done" just as the maximum does.
    m_value = std::clamp(value, m_minimum, m_maximum);
    updateTicking();
    update();
}

void ZoRoundWaterProgressBar::setResult(bool ok)
{
    m_resultPicture = ok ? QStringLiteral(":/resource/moduleupgradedsucc.png")
                         : QStringLiteral(":/resource/moduleupradefailed.png");
    m_value = m_maximum;
    updateTicking();
    update();
}

void ZoRoundWaterProgressBar::onUpdateRingWave()
{
    m_ringAngle += 10;
    if (m_ringAngle >= 360)
        m_ringAngle = 0;
    update();
}

double ZoRoundWaterProgressBar::fraction() const
{
    const double span = double(m_maximum) - double(m_minimum);
    if (span <= 0)
        return 0.0;
    return (double(m_value) - double(m_minimum)) / span;
}

void ZoRoundWaterProgressBar::paintEvent(QPaintEvent *)
{
    // Too small to hold the ring: the scale below would turn negative.
    if (std::min(width(), height()) <= 2 * m_borderWidth)
        return;

    QPainter painter(this);
    painter.setRenderHints(
        QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    drawBackground(painter);
    if (!finished()) {
        drawWater(painter);
        drawText(painter);
    } else if (!m_resultPicture.isEmpty()) {
        const QPixmap picture(m_resultPicture);
        if (!picture.isNull())
            painter.drawPixmap(rect(), picture);
    }
}

void ZoRoundWaterProgressBar::drawBackground(QPainter &painter)
{
    const int w = width();
    const int h = height();
    painter.save();
    painter.translate(w / 2, h / 2);
    const double scale = int(std::min(w, h) - m_borderWidth) / 72.5;
    painter.scale(scale, scale);
    painter.setBrush(m_backgroundColor);
    if (finished()) {
        painter.setPen(Qt::NoPen);
    } else {
        m_ringColor = kRingColor;
        QPen pen(m_ringColor, m_borderWidth, Qt::CustomDashLine, Qt::SquareCap, Qt::BevelJoin);
        pen.setDashPattern({4, 6, 4, 6});
        painter.setPen(pen);
        painter.rotate(m_ringAngle);
    }
    const int inset = int(m_borderWidth);
    painter.drawEllipse(QRectF(-40, -40, 80, 80).adjusted(inset, inset, -inset, -inset));
    painter.restore();
}

void ZoRoundWaterProgressBar::drawWater(QPainter &painter)
{
    const int w = width();
    const int h = height();
    const int side = int(std::min(w, h) - 2 * m_borderWidth);
    const int startX = int((w - side) * 0.5);
    const int endX = startX + side;
    const int startY = int((h - side) * 0.5);
    const int bottom = startY + side;
    if (side <= 0 || endX <= 0)
        return;

    const double frequency = 2 * M_PI / endX;
    const double amplitude = bottom * m_waveAmplitude;
    const double level = (1.0 - fraction()) * bottom;

    m_waveOffset += 0.6;
    if (m_waveOffset > endX / 2)
        m_waveOffset = 0;

    // The second wave is shifted by half a period so that the two surfaces
    // cross and the water seems to move.
    const double shift = (endX / 2) * frequency;
    QPainterPath front;
    QPainterPath back;
    front.moveTo(startX, bottom);
    back.moveTo(startX, bottom);
    for (int x = startX; x < endX; ++x) {
        front.lineTo(x, std::sin(x * frequency + m_waveOffset) * amplitude + level);
        back.lineTo(x, std::sin(x * frequency + m_waveOffset + shift) * amplitude + level);
    }
    front.lineTo(endX, bottom);
    back.lineTo(endX, bottom);

    QPainterPath circle;
    circle.addEllipse(startX, startY, side, side);

    QColor light = m_waterColor;
    light.setAlpha(100);
    QColor dense = m_waterColor;
    dense.setAlpha(200);

    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawPath(circle.intersected(front));
    painter.setBrush(dense);
    painter.drawPath(circle.intersected(back));
    painter.restore();
}

void ZoRoundWaterProgressBar::drawText(QPainter &painter)
{
    const int w = width();
    const int h = height();
    const int side = int(std::min(w, h) - m_borderWidth);
    const double percent = fraction() * 100.0;

    QFont font(QStringLiteral("Microsoft YaHei"));
    font.setPixelSize(std::max(1, side / 3));
    font.setWeight(QFont::Bold);

    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(int((w - side) * 0.5), int((h - side) * 0.5), side, side),
        Qt::AlignCenter, QStringLiteral("%1%").arg(percent, 0, 'f', 0));
    painter.restore();
}
