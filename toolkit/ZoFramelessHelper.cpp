#include "ZoFramelessHelper.h"

#include <QHoverEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QRubberBand>
#include <QWidget>

namespace {
int s_borderWidth = 5;
int s_titleHeight = 30;

struct Edges
{
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;

    bool topLeft() const { return top && left; }
    bool topRight() const { return top && right; }
    bool bottomLeft() const { return bottom && left; }
    bool bottomRight() const { return bottom && right; }
    bool onEdges() const { return left || right || top || bottom; }

    void set(const QPoint &global, const QRect &visible)
    {
        const int b = s_borderWidth;
        const int x = visible.x();
        const int y = visible.y();
        const int w = visible.width();
        const int h = visible.height();
        const int px = global.x();
        const int py = global.y();
        left = px >= x - b && px <= x + b;
        right = px >= x + w - b && px <= x + w + b;
        // The top band reaches only 5 px into the window so that the title
        // bar below stays a drag area.
        top = py >= y - b && py <= y + 5;
        bottom = py >= y + h - b && py <= y + h + b;
    }
    void clear() { *this = Edges(); }
};
}

class ZoFramelessHelper::WindowData
{
public:
    WindowData(ZoFramelessHelper *helper, QWidget *window, QWidget *contentWidget);
    ~WindowData();

    void handle(QEvent *event);
    void setRubberBand(bool on);

    int margin = 0;
    int topOffset = 0;

private:
    QRect visibleRect() const;
    void press(QMouseEvent *event);
    void release(QMouseEvent *event);
    void move(const QPoint &global);
    void resize(const QPoint &global);
    void updateCursor(const QPoint &global);
    void unsetCursor();

    ZoFramelessHelper *m_helper;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_content;
    QRubberBand *m_rubberBand = nullptr;
    Qt::WindowFlags m_savedFlags;
    QMargins m_savedMargins;
    QPoint m_dragPos;
    double m_ratio = 1.0;
    int m_rightDistance = 1;
    bool m_leftPressed = false;
    bool m_titlePressed = false;
    bool m_cursorChanged = false;
    Edges m_pressedEdges;
    Edges m_hoverEdges;
};

ZoFramelessHelper::WindowData::WindowData(
    ZoFramelessHelper *helper, QWidget *window, QWidget *contentWidget)
    : m_helper(helper)
    , m_window(window)
    , m_content(contentWidget)
    , m_savedFlags(window->windowFlags())
{
    // Without these the window sees no moves while no button is down and
    // the edge cursors could not follow the pointer.
    window->setMouseTracking(true);
    window->setAttribute(Qt::WA_Hover, true);
    // Dragging out of a maximized state restores these; starting from the
    // margins the window has now keeps the shadow even when the window was
    // maximized before it was ever moved.
    if (contentWidget)
        m_savedMargins = contentWidget->contentsMargins();
}

ZoFramelessHelper::WindowData::~WindowData()
{
    delete m_rubberBand;
    if (!m_window)
        return;
    m_window->removeEventFilter(m_helper);
    // A window that owns the helper is being torn down: changing its flags
    // now would rebuild a window that is half destroyed.
    for (QObject *o = m_helper->parent(); o; o = o->parent()) {
        if (o == m_window)
            return;
    }
    m_window->setMouseTracking(false);
    m_window->setAttribute(Qt::WA_Hover, false);
    const bool visible = m_window->isVisible();
    m_window->setWindowFlags(m_savedFlags);
    if (visible)
        m_window->show();
}

void ZoFramelessHelper::WindowData::setRubberBand(bool on)
{
    if (on && !m_rubberBand) {
        m_rubberBand = new QRubberBand(QRubberBand::Rectangle);
    } else if (!on && m_rubberBand) {
        delete m_rubberBand;
        m_rubberBand = nullptr;
    }
}

QRect ZoFramelessHelper::WindowData::visibleRect() const
{
    return m_window->frameGeometry().marginsRemoved(QMargins(margin, margin, margin, margin));
}

void ZoFramelessHelper::WindowData::handle(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        press(static_cast<QMouseEvent *>(event));
        break;
    case QEvent::MouseButtonRelease:
        release(static_cast<QMouseEvent *>(event));
        break;
    case QEvent::MouseMove: {
        const QPoint global = static_cast<QMouseEvent *>(event)->globalPos();
        if (m_leftPressed) {
            if (m_helper->m_resizable && m_pressedEdges.onEdges() && !m_window->isMaximized())
                resize(global);
            else if (m_helper->m_movable && m_titlePressed)
                move(global);
        } else if (m_helper->m_resizable) {
            updateCursor(global);
        }
        break;
    }
    case QEvent::Leave:
        if (!m_leftPressed)
            unsetCursor();
        break;
    case QEvent::HoverMove:
        if (m_helper->m_resizable && !m_leftPressed)
            updateCursor(m_window->mapToGlobal(static_cast<QHoverEvent *>(event)->pos()));
        break;
    default:
        break;
    }
}

void ZoFramelessHelper::WindowData::press(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_leftPressed = true;
    m_titlePressed = event->pos().y() < topOffset + s_titleHeight;
    const QRect visible = visibleRect();
    if (!m_window->isMaximized())
        m_pressedEdges.set(event->globalPos(), visible);
    m_dragPos = event->globalPos() - visible.topLeft() + QPoint(margin, margin);
    m_ratio = visible.width() > 0 ? double(m_dragPos.x()) / visible.width() : 1.0;
    m_rightDistance = visible.width() - m_dragPos.x();
    if (m_rubberBand
        && ((m_pressedEdges.onEdges() && m_helper->m_resizeRubberBand)
            || (!m_pressedEdges.onEdges() && m_helper->m_moveRubberBand
                && !m_window->isMaximized()))) {
        m_rubberBand->setGeometry(visible);
        m_rubberBand->show();
    }
}

void ZoFramelessHelper::WindowData::release(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_leftPressed = false;
    m_titlePressed = false;
    m_pressedEdges.clear();
    if (m_rubberBand && m_rubberBand->isVisible()) {
        m_rubberBand->hide();
        m_window->setGeometry(
            m_rubberBand->geometry().marginsAdded(QMargins(margin, margin, margin, margin)));
    }
}

void ZoFramelessHelper::WindowData::move(const QPoint &global)
{
    const bool maximized = m_window->isMaximized();
    if (m_helper->m_moveRubberBand && m_rubberBand && !maximized) {
        m_rubberBand->move(global - m_dragPos);
        return;
    }
    if (!maximized) {
        if (m_content)
            m_savedMargins = m_content->contentsMargins();
    } else {
        // Dragged out of the maximized state: keep the grip where the user
        // holds the bar, by proportion in the middle and by the distance to
        // the nearer edge at the sides.
        const QRect normal = m_window->normalGeometry();
        const int width = normal.width();
        if (m_ratio > 0.3 && m_ratio < 0.7)
            m_dragPos.setX(int(width * m_ratio));
        else if (m_ratio >= 0.7)
            m_dragPos.setX(width - m_rightDistance);
        m_dragPos.ry() += topOffset;
        if (m_content)
            m_content->setContentsMargins(m_savedMargins);
        m_window->showNormal();
        m_window->resize(normal.size());
        if (m_helper->m_moveRubberBand && m_rubberBand) {
            m_rubberBand->setGeometry(m_window->geometry());
            m_rubberBand->move(global - m_dragPos);
            m_rubberBand->show();
        }
    }
    m_window->move(global - m_dragPos);
}

void ZoFramelessHelper::WindowData::resize(const QPoint &global)
{
    const bool band = m_helper->m_resizeRubberBand && m_rubberBand;
    const QRect start = band ? m_rubberBand->frameGeometry() : m_window->frameGeometry();
    QRect rect = start;
    const int m = margin;
    const Edges &e = m_pressedEdges;
    if (e.left)
        rect.setLeft(global.x() - m);
    if (e.right)
        rect.setRight(global.x() + m);
    if (e.top)
        rect.setTop(global.y() - m);
    if (e.bottom)
        rect.setBottom(global.y() + m);
    if (!rect.isValid())
        return;

    // Outside the window's size limits the geometry would be cut at its
    // right or bottom whichever edge is dragged; keep the edge the user
    // does not hold in place instead.
    const QSize minimum = m_window->minimumSize();
    const QSize maximum = m_window->maximumSize();
    const int width = qBound(minimum.width(), rect.width(), maximum.width());
    if (width != rect.width()) {
        if (rect.left() != start.left())
            rect.setLeft(rect.right() - width + 1);
        else
            rect.setWidth(width);
    }
    const int height = qBound(minimum.height(), rect.height(), maximum.height());
    if (height != rect.height()) {
        if (rect.top() != start.top())
            rect.setTop(rect.bottom() - height + 1);
        else
            rect.setHeight(height);
    }
    if (band)
        m_rubberBand->setGeometry(rect);
    else
        m_window->setGeometry(rect);
}

void ZoFramelessHelper::WindowData::updateCursor(const QPoint &global)
{
    if (m_window->isFullScreen() || m_window->isMaximized()) {
        if (m_cursorChanged)
            unsetCursor();
        return;
    }
    m_hoverEdges.set(global, visibleRect());
    const Edges &e = m_hoverEdges;
    if (e.topLeft() || e.bottomRight()) {
        m_window->setCursor(Qt::SizeFDiagCursor);
    } else if (e.topRight() || e.bottomLeft()) {
        m_window->setCursor(Qt::SizeBDiagCursor);
    } else if (e.left || e.right) {
        m_window->setCursor(Qt::SizeHorCursor);
    } else if (e.top || e.bottom) {
        m_window->setCursor(Qt::SizeVerCursor);
    } else {
        if (m_cursorChanged)
            unsetCursor();
        return;
    }
    m_cursorChanged = true;
}

void ZoFramelessHelper::WindowData::unsetCursor()
{
    m_window->unsetCursor();
    m_cursorChanged = false;
}

ZoFramelessHelper::ZoFramelessHelper(QObject *parent)
    : QObject(parent)
{
}

ZoFramelessHelper::~ZoFramelessHelper()
{
    qDeleteAll(m_windows);
}

void ZoFramelessHelper::attach(QWidget *window, QWidget *contentWidget)
{
    if (!window || m_windows.contains(window))
        return;
    auto *data = new WindowData(this, window, contentWidget);
    data->margin = m_margin;
    // The drag area starts below the invisible margin, as setMargin makes
    // it for windows attached earlier.
    if (m_margin > 0)
        data->topOffset = m_margin;
    data->setRubberBand(m_moveRubberBand || m_resizeRubberBand);
    m_windows.insert(window, data);
    // A window destroyed before the helper takes its state with it.
    connect(
        window, &QObject::destroyed, this, [this](QObject *gone) { delete m_windows.take(gone); });
    window->installEventFilter(this);
}

void ZoFramelessHelper::setMargin(int margin)
{
    if (margin < 0)
        return;
    m_margin = margin;
    for (WindowData *data : qAsConst(m_windows)) {
        data->margin = margin;
        if (margin > 0)
            data->topOffset = margin;
    }
}

void ZoFramelessHelper::setTitleHeight(int height)
{
    if (height > 0)
        s_titleHeight = height;
}

int ZoFramelessHelper::borderWidth()
{
    return s_borderWidth;
}

int ZoFramelessHelper::titleHeight()
{
    return s_titleHeight;
}

void ZoFramelessHelper::setMovable(bool movable)
{
    m_movable = movable;
}

void ZoFramelessHelper::setResizable(bool resizable)
{
    m_resizable = resizable;
}

void ZoFramelessHelper::setMoveRubberBand(bool on)
{
    m_moveRubberBand = on;
    updateRubberBands();
}

void ZoFramelessHelper::setResizeRubberBand(bool on)
{
    m_resizeRubberBand = on;
    updateRubberBands();
}

void ZoFramelessHelper::updateRubberBands()
{
    for (WindowData *data : qAsConst(m_windows))
        data->setRubberBand(m_moveRubberBand || m_resizeRubberBand);
}

bool ZoFramelessHelper::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Leave:
    case QEvent::HoverMove:
        if (WindowData *data = m_windows.value(watched)) {
            data->handle(event);
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
