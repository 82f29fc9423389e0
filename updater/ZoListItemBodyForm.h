#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "ZoTypes.h"

namespace Ui {
class ZoListItemBodyForm;
}
class QTextBrowser;
class ZoModuleUpgradeInfo;

// The foldable part of an upgrade-list row: what is available and the
// release notes, in the working language.
class ZoListItemBodyForm : public QWidget
{
    Q_OBJECT
public:
    explicit ZoListItemBodyForm(QWidget *parent = nullptr);
    ~ZoListItemBodyForm() override;

    void setIndex(tds4 index) { m_index = index; }
    void setLanguage(const QString &language) { m_language = language; }
    void setModule(const ZoModuleUpgradeInfo *module);
    QString text() const { return m_text; }
    QTextBrowser *textBrowser() const;

private:
    std::unique_ptr<Ui::ZoListItemBodyForm> ui;
    tds4 m_index = -1;
    QString m_language;
    QString m_text;
};
