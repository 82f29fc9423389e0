#include "ZoTitleBar.h"

#include "ZoFramelessHelper.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QSizePolicy>
#include <QStyle>
#include <QStyleOption>

ZoTitleBar::ZoTitleBar(
    QWidget *parent, QWidget *window, QWidget *contentWidget, bool maximizeAllowed)
    : QWidget(parent)
    , m_window(window)
    , m_content(contentWidget)
    , m_maximizeAllowed(maximizeAllowed)
    , m_iconLabel(new QLabel(this))
    , m_titleLabel(new QLabel(this))
    , m_minimizeButton(new QPushButton(this))
    , m_maximizeButton(new QPushButton(this))
    , m_closeButton(new QPushButton(this))
{
    setFixedHeight(ZoFramelessHelper::titleHeight());
    setStyleSheet(QStringLiteral("background-color:#088DF2;"
                                 "font-family:\"微软雅黑\";font-size:10pt;"));

    m_iconLabel->setFixedSize(20, 20);
    m_iconLabel->setScaledContents(true);
    m_iconLabel->setStyleSheet(
        QStringLiteral("QLabel{border-image:url(:/resource/FlashbayUpdate.png);}"));

    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_minimizeButton->setObjectName(QStringLiteral("minimizeButton"));
    m_maximizeButton->setObjectName(QStringLiteral("maximizeButton"));
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_minimizeButton->setFixedSize(27, 22);
    m_maximizeButton->setFixedSize(27, 22);
    m_closeButton->setFixedSize(16, 16);
    m_closeButton->setStyleSheet(
        QStringLiteral("QPushButton{border-image:url(:/resource/close-normal.png);}"
                       "QPushButton:pressed{border-image:url(:/resource/close-select.png);}"));

    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    for (QPushButton *button : {m_minimizeButton, m_maximizeButton, m_closeButton}) {
        button->setCheckable(true);
        // Window controls must neither take the keyboard focus nor become
        // the dialog's default button: Enter belongs to the dialog's own
        // buttons.
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, &ZoTitleBar::onClicked);
    }

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_iconLabel);
    layout->addSpacing(5);
    layout->addWidget(m_titleLabel);
    layout->addWidget(spacer);
    layout->addWidget(m_minimizeButton);
    layout->addWidget(m_maximizeButton);
    layout->addWidget(m_closeButton);
    layout->setSpacing(0);
    layout->setContentsMargins(5, 0, 5, 0);

    retranslate();
    updateMaximize();
}

void ZoTitleBar::setMinimizeVisible(bool visible)
{
    m_minimizeButton->setVisible(visible);
}

void ZoTitleBar::setMaximizeVisible(bool visible)
{
    m_maximizeButton->setVisible(visible);
}

void ZoTitleBar::onClicked()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button || !m_window || !m_window->isWindow())
        return;
    if (button == m_minimizeButton) {
        m_window->showMinimized();
    } else if (button == m_closeButton) {
        m_window->close();
    } else if (button == m_maximizeButton && m_maximizeAllowed) {
        // The shadow margin makes no sense on a full screen; give it back
        // when the window returns to its normal size.
        if (!m_window->isMaximized()) {
            if (m_content) {
                m_savedMargins = m_content->contentsMargins();
                m_content->setContentsMargins(0, 0, 0, 0);
            }
            m_window->showMaximized();
        } else {
            if (m_content)
                m_content->setContentsMargins(m_savedMargins);
            m_window->showNormal();
        }
    }
}

void ZoTitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    Q_UNUSED(event);
    emit m_maximizeButton->clicked();
}

bool ZoTitleBar::eventFilter(QObject *watched, QEvent *event)
{
    // The window still gets these events: its own handlers (and those of
    // classes derived from it) must keep working.
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::WindowTitleChange:
            m_titleLabel->setText(m_window->windowTitle());
            break;
        case QEvent::WindowIconChange:
            m_iconLabel->setPixmap(m_window->windowIcon().pixmap(m_iconLabel->size()));
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            updateMaximize();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ZoTitleBar::updateMaximize()
{
    const bool maximized = m_window && m_window->isMaximized();
    m_maximizeButton->setToolTip(maximized ? tr("Restore") : tr("Maximize"));
    m_maximizeButton->setProperty(
        "maximizeProperty", maximized ? QStringLiteral("restore") : QStringLiteral("maximize"));
    // Rules keyed on the property only take effect once the button is
    // polished again.
    m_maximizeButton->style()->unpolish(m_maximizeButton);
    m_maximizeButton->style()->polish(m_maximizeButton);
}

void ZoTitleBar::retranslate()
{
    m_minimizeButton->setToolTip(tr("Minimize"));
    m_closeButton->setToolTip(tr("Close"));
    updateMaximize();
}

void ZoTitleBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void ZoTitleBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (event->size().height() != event->oldSize().height())
        emit HeightChanged(event->size().height());
}

void ZoTitleBar::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
