#include "ZoCustomDialog.h"

#include "ZoDialogWidget.h"
#include "ZoFramelessHelper.h"
#include "ZoTitleBar.h"

#include <QVBoxLayout>

ZoCustomDialog::ZoCustomDialog(bool maximizeAllowed, unsigned shadowWidth, QWidget *parent)
    : QDialog(parent)
    , m_shadowWidth(shadowWidth)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Frameless alone would make a dialog with a parent a child widget
    // drawn inside that parent; it must stay a window of its own.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setContentsMargins(0, 0, 0, 0);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    const int shadow = int(shadowWidth);
    m_dialogWidget = new ZoDialogWidget(shadowWidth, maximizeAllowed, this);
    m_dialogWidget->setContentsMargins(shadow, shadow, shadow, shadow);
    m_dialogWidget->setAutoFillBackground(true);
    outer->addWidget(m_dialogWidget);

    auto *bodyLayout = new QVBoxLayout(m_dialogWidget);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    auto *body = new QWidget(m_dialogWidget);
    body->setAutoFillBackground(true);
    bodyLayout->addWidget(body);

    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_titleBar = new ZoTitleBar(body, this, m_dialogWidget, maximizeAllowed);
    m_titleBar->setObjectName(QStringLiteral("titleBar1"));
    installEventFilter(m_titleBar);
    layout->addWidget(m_titleBar);
    m_contentWidget = new QWidget(body);
    m_contentLayout = new QVBoxLayout(m_contentWidget);
    layout->addWidget(m_contentWidget);

    m_framelessHelper = new ZoFramelessHelper(this);
    m_framelessHelper->setMargin(shadow);
    m_framelessHelper->attach(this, m_dialogWidget);
    m_framelessHelper->setTitleHeight(m_titleBar->height());
    m_framelessHelper->setResizable(true);
    m_framelessHelper->setMovable(true);
    m_framelessHelper->setMoveRubberBand(false);
    m_framelessHelper->setResizeRubberBand(false);
    connect(m_titleBar, &ZoTitleBar::HeightChanged, m_framelessHelper,
        &ZoFramelessHelper::setTitleHeight);
}
