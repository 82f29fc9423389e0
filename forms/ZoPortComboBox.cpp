#include "ZoPortComboBox.h"

#include "ZoSerialStableNames.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

ZoPortComboBox::ZoPortComboBox(QWidget *parent)
    : QComboBox(parent)
{
    connect(this, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        [this] { setToolTip(currentText()); });
}

void ZoPortComboBox::setPorts(const QStringList &names)
{
    clear();
    addItems(names);
    int widest = 0;
    const QFontMetrics metrics = view()->fontMetrics();
    for (int i = 0; i < names.size(); ++i) {
        setItemData(i, names.at(i), Qt::ToolTipRole);
        widest = std::max(widest, metrics.horizontalAdvance(names.at(i)));
    }
    // The item's margins and the list's frame, and room for a scroll bar
    // should the list be longer than the popup.
    const int margin
        = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view()) + 1);
    const int chrome = 2 * view()->frameWidth()
        + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view());
    view()->setMinimumWidth(names.isEmpty() ? 0 : widest + margin + chrome + 2);
}

int ZoPortComboBox::textWidth() const
{
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QRect field
        = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    // The style draws the label a pixel inside the field on either side.
    return field.width() - 2;
}

QString ZoPortComboBox::shownText() const
{
    QString name = currentText();
    // Every stable name starts with the same folder: only what follows tells
    // adapters apart.
    if (ZoSerialStableNames::isStableName(name))
        name = QFileInfo(name).fileName();
    return fontMetrics().elidedText(name, Qt::ElideMiddle, textWidth());
}

void ZoPortComboBox::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    opt.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}
