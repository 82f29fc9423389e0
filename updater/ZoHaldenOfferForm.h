#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "ZoHaldenUpdateInfo.h"
#include "ZoUpdateMode.h"

namespace Ui {
class ZoHaldenOfferForm;
}

// A newer release told about where the installation is not the updater's to
// change: the version, its notes, why it is not installed here and where to
// get it. It starts nothing; the only way on is to close it.
class ZoHaldenOfferForm : public QWidget
{
    Q_OBJECT
public:
    explicit ZoHaldenOfferForm(QWidget *parent = nullptr);
    ~ZoHaldenOfferForm() override;

    // release is what the check found, installedVersion what runs now, mode
    // why it is only offered, applicationDir the installation. homepage
    // stands in for a release that names no address to fetch it from.
    void setOffer(const ZoHaldenUpdateInfo &release, const QString &installedVersion,
        ZoUpdateMode::Mode mode, const QString &applicationDir, const QString &homepage);

    // Where the release is to be had; empty when neither the release nor
    // the homepage names a web address.
    QString address() const { return m_address; }

    // The release's address when it is a web address, else homepage when
    // that is one, else empty.
    static QString addressOf(const QString &releaseUrl, const QString &homepage);

Q_SIGNALS:
    void sigCloseRequested();

private:
    void copyAddress();

    std::unique_ptr<Ui::ZoHaldenOfferForm> ui;
    QString m_address;
};
