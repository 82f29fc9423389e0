#include "ZoSelectModuleForm.h"

#include "ZoFormBackground.h"
#include "ui_ZoSelectModuleForm.h"

#include "ZoPrivateSelectePrefPushButton.h"
#include "ZoUtils.h"


namespace {

const int kColumns = 3;

} // namespace

ZoSelectModuleForm::ZoSelectModuleForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoSelectModuleForm)
    , m_background(QStringLiteral(":/resource/selectbkg.png"))
{
    ui->setupUi(this);
    // Signal arguments by their alias names, for queued connections.
    qRegisterMetaType<ZoDeviceKey>("ZoDeviceKey");
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->gridModules->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

ZoSelectModuleForm::~ZoSelectModuleForm()
{
    delete ui;
}

QList<ZoPrivateSelectePrefPushButton *> ZoSelectModuleForm::buttons() const
{
    QList<ZoPrivateSelectePrefPushButton *> result;
    for (const Entry &entry : m_entries)
        result.append(entry.button);
    return result;
}

void ZoSelectModuleForm::setModules(const QList<ZoDeviceKey> &modules)
{
    for (const Entry &entry : qAsConst(m_entries)) {
        ui->gridModules->removeWidget(entry.button);
        delete entry.button;
    }
    m_entries.clear();

    // The index is the grid position; it is not folded into 8 bits, so a
    // list of more than 255 modules cannot make two buttons answer together.
    int index = 0;
    for (const ZoDeviceKey &module : modules) {
        auto *button = new ZoPrivateSelectePrefPushButton(ui->scrollAreaModules);
        button->setFixedSize(100, 100);
        button->setup(index, ZoUtils::iconPath(module.type), [module] {
            int airframe = ZoUtils::AirframeNone;
            const QString name = ZoUtils::deviceName(module.type, airframe);
            // Modules of one type on several nodes look alike otherwise; the
            // node goes first, where shortening a long name leaves it.
            return module.number == 0 ? name
                                      : QStringLiteral("#%1 %2").arg(module.number).arg(name);
        }());
        ui->gridModules->addWidget(button, index / kColumns, index % kColumns);
        connect(button, &ZoPrivateSelectePrefPushButton::sigbtnClicked, this,
            &ZoSelectModuleForm::onModuleIconClicked);
        m_entries.append({module, button});
        ++index;
    }
    onModuleIconClicked(-1);
}

void ZoSelectModuleForm::onModuleIconClicked(int index)
{
    m_selected = ZoDeviceKey();
    for (int i = 0; i < m_entries.size(); ++i) {
        m_entries[i].button->setSelected(i == index);
        if (i == index)
            m_selected = m_entries[i].module;
    }
}

void ZoSelectModuleForm::on_btnAddMod_clicked()
{
    if (!m_selected.isNull())
        Q_EMIT sigSelectedModule(m_selected);
    close();
}

void ZoSelectModuleForm::on_btnCancel_clicked()
{
    close();
}

void ZoSelectModuleForm::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    ZoFormBackground::paint(this, m_background);
}
