#include "ZoSearchPlaneDeviceForm.h"
#include "ui_ZoSearchPlaneDeviceForm.h"

#include "ZoPlaneSearch.h"
#include "ZoUpgradeWorkflow.h"

#include <QEvent>
#include <QPainter>

ZoSearchPlaneDeviceForm::ZoSearchPlaneDeviceForm(ZoUpgradeWorkflow *engine, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoSearchPlaneDeviceForm)
    , m_engine(engine)
    , m_background(QStringLiteral(":/resource/datalinkbkg.png"))
{
    ui->setupUi(this);
    setFixedSize(FormWidth, FormHeight);
    ui->pbAutoDetect->setStyleSheet(
        QStringLiteral("QProgressBar{border-radius: 10px;text-align: center;background: "
                       "white;color: rgb(6, 123, 207);}\nQProgressBar::chunk{border-radius: "
                       "10px;background: rgb(0, 255, 0);}"));
    // Ten steps and the two network links, until the search says more.
    ui->pbAutoDetect->setRange(0, 12);
    ui->pbAutoDetect->setValue(0);
    const ZoPlaneSearch *search = engine->search();
    connect(search, &ZoPlaneSearch::sigDescriptionChanged, this,
        &ZoSearchPlaneDeviceForm::onDescriptionChanged);
    connect(search, &ZoPlaneSearch::sigProgressChanged, this,
        &ZoSearchPlaneDeviceForm::onProgressChanged);
    connect(search, &ZoPlaneSearch::sigActiveChanged, this,
        &ZoSearchPlaneDeviceForm::onActiveChanged);
}

ZoSearchPlaneDeviceForm::~ZoSearchPlaneDeviceForm()
{
    delete ui;
}

void ZoSearchPlaneDeviceForm::on_btnCancel_clicked()
{
    m_engine->cancelSearch();
}

void ZoSearchPlaneDeviceForm::onDescriptionChanged(const QString &textKey)
{
    // The keys the search reports, listed here so the dictionaries carry them.
    static const char *const known[] = {QT_TR_NOOP("MsgDeviceSearching")};
    Q_UNUSED(known)
    m_descriptionKey = textKey;
    showDescription();
}

void ZoSearchPlaneDeviceForm::showDescription()
{
    if (m_descriptionKey.isEmpty()) {
        ui->labelSearchPrgDesc->clear();
        return;
    }
    ui->labelSearchPrgDesc->setText(QStringLiteral("%1... ..")
                                        .arg(QCoreApplication::translate("ZoSearchPlaneDeviceForm",
                                            m_descriptionKey.toUtf8().constData())));
}

void ZoSearchPlaneDeviceForm::onProgressChanged(int value, int maximum)
{
    // The range first: a value above the old maximum would be refused.
    ui->pbAutoDetect->setRange(0, maximum > 0 ? maximum : 1);
    ui->pbAutoDetect->setValue(value);
}

void ZoSearchPlaneDeviceForm::onActiveChanged(bool active)
{
    if (active) {
        if (QWidget *p = parentWidget())
            move((p->width() - width()) / 2, (p->height() - height()) / 2);
        show();
        raise();
    } else {
        hide();
    }
}

void ZoSearchPlaneDeviceForm::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showDescription();
    }
    QWidget::changeEvent(event);
}

void ZoSearchPlaneDeviceForm::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    if (m_background.isNull()) {
        // Without the artwork a plain dark panel keeps the white texts legible.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1F, 0x23, 0x29));
        painter.drawRoundedRect(rect(), 8, 8);
        return;
    }
    painter.drawPixmap(rect(), m_background);
}
