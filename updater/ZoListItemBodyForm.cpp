#include "ZoListItemBodyForm.h"
#include "ui_ZoListItemBodyForm.h"

#include "ZoApplicationUpgradeInfo.h"
#include "ZoModuleUpgradeInfo.h"

ZoListItemBodyForm::ZoListItemBodyForm(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ZoListItemBodyForm>())
{
    ui->setupUi(this);
}

ZoListItemBodyForm::~ZoListItemBodyForm() = default;

QTextBrowser *ZoListItemBodyForm::textBrowser() const
{
    return ui->textBrowser;
}

void ZoListItemBodyForm::setModule(const ZoModuleUpgradeInfo *module)
{
    const bool chinese = m_language == QLatin1String("zh_CN");
    QString text;
    for (const ZoApplicationUpgradeInfo *app : module->applications) {
        if (!app->isUpgradeAvailable)
            continue;
        if (module->projId != -1)
            text += QStringLiteral("%1%2V%3\n")
                        .arg(chinese ? app->nameZh : app->nameEn, tr("LabUpgradeAvailable"),
                            app->version);
        text += chinese ? app->descriptionZh : app->descriptionEn;
        text += QLatin1String("\n\n\n");
    }
    m_text = text;
    // Release notes are shown as the cloud wrote them, never as markup.
    ui->textBrowser->setPlainText(text);
}
