#include "ZoLaneTimeline.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr qint64 HourMs = 3600 * 1000;
constexpr qint64 DayMs = 24 * HourMs;

// Room at each end of the axis for half a version label or a date.
int endRoom(const QFontMetrics &fm)
{
    return fm.horizontalAdvance(QStringLiteral("0000-00-00")) / 2 + 4;
}

QString axisText(qint64 ms, qint64 span)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return t.toString(
        span <= 2 * DayMs ? QStringLiteral("MM-dd HH:mm") : QStringLiteral("yyyy-MM-dd"));
}

} // namespace

ZoLaneTimeline::ZoLaneTimeline(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ZoLaneTimeline::setLanes(const QList<Lane> &lanes)
{
    m_lanes = lanes;
    for (Lane &lane : m_lanes)
        std::stable_sort(lane.points.begin(), lane.points.end(),
            [](const Point &a, const Point &b) { return a.time < b.time; });
    updateGeometry();
    update();
}

int ZoLaneTimeline::laneHeight() const
{
    // A label over its point, and a little air.
    return fontMetrics().height() + 16;
}

int ZoLaneTimeline::axisHeight() const
{
    return fontMetrics().height() + 8;
}

QSize ZoLaneTimeline::sizeHint() const
{
    return {600, int(std::max<qsizetype>(m_lanes.size(), 1)) * laneHeight() + axisHeight()};
}

QSize ZoLaneTimeline::minimumSizeHint() const
{
    const int lanes = int(std::max<qsizetype>(m_lanes.size(), 1));
    // Room for a label over each lane's line.
    return {300, lanes * (fontMetrics().height() + 14) + axisHeight()};
}

ZoLaneTimeline::Frame ZoLaneTimeline::frame() const
{
    const QFontMetrics fm = fontMetrics();
    Frame f;
    for (const Lane &lane : m_lanes)
        f.nameWidth = std::max(f.nameWidth, fm.horizontalAdvance(lane.name) + 12);
    // A long name gives way to the points.
    f.nameWidth = std::min(std::max(f.nameWidth, 40), width() / 3);
    const int room = endRoom(fm);
    f.plot = QRect(f.nameWidth + room, 2, std::max(width() - f.nameWidth - 2 * room, 1),
        std::max(height() - axisHeight() - 2, 1));

    bool any = false;
    for (const Lane &lane : m_lanes) {
        for (const Point &p : lane.points) {
            const qint64 ms = p.time.toMSecsSinceEpoch();
            f.from = any ? std::min(f.from, ms) : ms;
            f.to = any ? std::max(f.to, ms) : ms;
            any = true;
        }
    }
    if (!any) {
        f.to = QDateTime::currentMSecsSinceEpoch();
        f.from = f.to - DayMs;
    } else if (f.to - f.from < 2 * HourMs) {
        // One moment, or a few close together: an hour either side.
        const qint64 middle = f.from + (f.to - f.from) / 2;
        f.from = middle - HourMs;
        f.to = middle + HourMs;
    }
    return f;
}

QRect ZoLaneTimeline::laneRect(int index) const
{
    if (index < 0 || index >= m_lanes.size())
        return {};
    const Frame f = frame();
    const int n = int(m_lanes.size());
    const int top = f.plot.top() + f.plot.height() * index / n;
    const int bottom = f.plot.top() + f.plot.height() * (index + 1) / n;
    return QRect(0, top, width(), bottom - top);
}

int ZoLaneTimeline::Frame::x(qint64 ms) const
{
    return plot.left() + int(double(ms - from) * plot.width() / double(to - from));
}

int ZoLaneTimeline::xOf(const QDateTime &time) const
{
    return frame().x(time.toMSecsSinceEpoch());
}

void ZoLaneTimeline::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Frame f = frame();
    for (int i = 0; i < m_lanes.size(); ++i)
        paintLane(painter, f, i);
    paintAxis(painter, f);
}

void ZoLaneTimeline::paintLane(QPainter &painter, const Frame &f, int index) const
{
    const QFontMetrics fm = fontMetrics();
    const QColor ink = palette().color(QPalette::WindowText);
    const QRect band = laneRect(index);
    if (index % 2 == 1) {
        QColor shade = ink;
        shade.setAlpha(14);
        painter.fillRect(band, shade);
    }
    const Lane &lane = m_lanes.at(index);
    painter.setPen(ink);
    painter.drawText(QRect(4, band.top(), f.nameWidth - 8, band.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        fm.elidedText(lane.name, Qt::ElideRight, f.nameWidth - 8));

    // The line sits low in the band, the labels over it.
    const int radius = std::clamp(band.height() / 6, 3, 6);
    const int y = band.bottom() - std::max(radius + 3, (band.height() - fm.height()) / 2 - 2);
    QColor faint = ink;
    faint.setAlpha(70);
    painter.setPen(QPen(faint, 1));
    painter.drawLine(f.nameWidth, y, width() - 4, y);

    for (const Point &p : lane.points) {
        painter.setPen(QPen(p.colour.darker(160), 1));
        painter.setBrush(p.colour);
        painter.drawEllipse(QPoint(f.x(p.time.toMSecsSinceEpoch()), y), radius, radius);
    }
    // Labels from the newest back: where two crowd, the later one shows.
    QRect next;
    painter.setPen(ink);
    for (auto it = lane.points.crbegin(); it != lane.points.crend(); ++it) {
        if (it->label.isEmpty())
            continue;
        const int w = fm.horizontalAdvance(it->label) + 4;
        QRect label(f.x(it->time.toMSecsSinceEpoch()) - w / 2, y - radius - 1 - fm.height(), w,
            fm.height());
        label.moveLeft(std::clamp(label.left(), f.nameWidth, std::max(width() - w, f.nameWidth)));
        if (label.top() < band.top() || (next.isValid() && label.right() >= next.left()))
            continue;
        painter.drawText(label, Qt::AlignCenter, it->label);
        next = label;
    }
    painter.setBrush(Qt::NoBrush);
}

void ZoLaneTimeline::paintAxis(QPainter &painter, const Frame &f) const
{
    const QFontMetrics fm = fontMetrics();
    QColor ink = palette().color(QPalette::WindowText);
    const int y = f.plot.bottom() + 2;
    ink.setAlpha(160);
    painter.setPen(QPen(ink, 1));
    painter.drawLine(f.plot.left(), y, f.plot.right(), y);
    const qint64 span = f.to - f.from;
    const int textWidth = fm.horizontalAdvance(axisText(f.to, span)) + 16;
    const int ticks = std::clamp(f.plot.width() / std::max(textWidth, 1) + 1, 2, 6);
    for (int k = 0; k < ticks; ++k) {
        const qint64 ms = f.from + span * k / (ticks - 1);
        const int x = f.x(ms);
        painter.drawLine(x, y, x, y + 3);
        const QString text = axisText(ms, span);
        const int w = fm.horizontalAdvance(text) + 2;
        const int left = std::clamp(x - w / 2, 0, std::max(width() - w, 0));
        painter.drawText(QRect(left, y + 4, w, fm.height()), Qt::AlignCenter, text);
    }
}
