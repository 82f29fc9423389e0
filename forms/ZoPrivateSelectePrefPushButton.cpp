#include "ZoPrivateSelectePrefPushButton.h"
#include "ui_ZoPrivateSelectePrefPushButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

const QString kSelectedFrame
    = QStringLiteral("QWidget#widget{border-width: 1px;border-color:#0099FF;border-style: "
                     "solid;border-radius:10px;}");
const QString kPlainFrame
    = QStringLiteral("QWidget#widget{border-width: 1px;border-color:#FFFFFF;border-style: "
                     "solid;border-radius:10px;}");

// The check mark; drawn while its artwork is missing so a selection still
// shows more than a border colour.
QPixmap checkMark()
{
    QPixmap picture(QStringLiteral(":/resource/iconselected.png"));
    if (!picture.isNull())
        return picture;
    picture = QPixmap(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x00, 0x99, 0xFF));
    painter.drawEllipse(1, 1, 30, 30);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF tick[] = {{8, 16}, {14, 22}, {24, 10}};
    painter.drawPolyline(tick, 3);
    return picture;
}

} // namespace

ZoPrivateSelectePrefPushButton::ZoPrivateSelectePrefPushButton(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoPrivateSelectePrefPushButton)
{
    ui->setupUi(this);
    ui->widget->setAttribute(Qt::WA_StyledBackground);
    ui->labelSelected->setPixmap(checkMark());
    setCursor(Qt::PointingHandCursor);
    setSelected(false);
}

ZoPrivateSelectePrefPushButton::~ZoPrivateSelectePrefPushButton()
{
    delete ui;
}

void ZoPrivateSelectePrefPushButton::setup(int index, const QString &iconPath, const QString &name)
{
    m_index = index;
    QString path = iconPath;
    const bool pressed = path.contains(QLatin1String("_pressed"), Qt::CaseSensitive);
    if (pressed) {
        path.remove(QLatin1String("_pressed"), Qt::CaseSensitive);
        m_iconStyle = QStringLiteral("image:url(%1);").arg(path);
    } else {
        m_iconStyle = QStringLiteral("image: url(%1)").arg(path);
    }
    setSelected(pressed);
    ui->labelIcon->setStyleSheet(m_iconStyle);
    ui->labelName->setText(fittedName(name));
    ui->labelName->setToolTip(name);
    layout()->setContentsMargins(6, 6, 6, 6);
}

void ZoPrivateSelectePrefPushButton::setSelected(bool on)
{
    ui->widget->setStyleSheet(on ? kSelectedFrame : kPlainFrame);
    ui->labelSelected->setVisible(on);
}

QString ZoPrivateSelectePrefPushButton::fittedName(const QString &name)
{
    // Two lines fit under the icon. A name that would overflow them, or has
    // a word wider than the button, is shortened with an ellipsis instead
    // of being cut off at the frame; the tooltip keeps it whole.
    ui->labelName->ensurePolished();
    const QFontMetrics metrics(ui->labelName->font());
    const QMargins outer = layout()->contentsMargins();
    const QMargins inner = ui->widget->layout()->contentsMargins();
    const int available
        = maximumWidth() - outer.left() - outer.right() - inner.left() - inner.right();
    const QRect needed = metrics.boundingRect(
        QRect(0, 0, available, 0xFFFF), Qt::AlignHCenter | Qt::TextWordWrap, name);
    if (needed.width() <= available && needed.height() <= 2 * metrics.lineSpacing())
        return name;
    return metrics.elidedText(name, Qt::ElideRight, available);
}

bool ZoPrivateSelectePrefPushButton::isSelected() const
{
    return !ui->labelSelected->isHidden();
}

void ZoPrivateSelectePrefPushButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT sigbtnClicked(m_index);
    event->accept();
}

void ZoPrivateSelectePrefPushButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ZoPrivateSelectePrefPushButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
