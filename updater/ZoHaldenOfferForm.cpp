#include "ZoHaldenOfferForm.h"
#include "ui_ZoHaldenOfferForm.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QShortcut>
#include <QUrl>

namespace {

constexpr tds4 kMandatory = 1;

bool isWebAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("https") || scheme == QLatin1String("http")
            || scheme == QLatin1String("ftp"));
}

} // namespace

ZoHaldenOfferForm::ZoHaldenOfferForm(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ZoHaldenOfferForm>())
{
    ui->setupUi(this);
    connect(ui->btnCopyAddress, &QPushButton::clicked, this, &ZoHaldenOfferForm::copyAddress);
    connect(ui->btnClose, &QPushButton::clicked, this, &ZoHaldenOfferForm::sigCloseRequested);
    // Return on the focused Close button and Escape anywhere leave, as in a
    // message box.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &ZoHaldenOfferForm::sigCloseRequested);
    ui->btnClose->setFocus();
}

ZoHaldenOfferForm::~ZoHaldenOfferForm() = default;

QString ZoHaldenOfferForm::addressOf(const QString &releaseUrl, const QString &homepage)
{
    if (isWebAddress(releaseUrl.trimmed()))
        return releaseUrl.trimmed();
    if (isWebAddress(homepage.trimmed()))
        return homepage.trimmed();
    return QString();
}

void ZoHaldenOfferForm::setOffer(const ZoHaldenUpdateInfo &release, const QString &installedVersion,
    ZoUpdateMode::Mode mode, const QString &applicationDir, const QString &homepage)
{
    ui->labTitle->setText(tr("LabOfferTitle").arg(release.version));
    ui->labInstalled->setText(tr("LabOfferInstalled").arg(installedVersion));
    ui->labRequired->setVisible(release.importanceLevel == kMandatory);
    ui->labReason->setText(mode == ZoUpdateMode::OfferPackageManaged
            ? tr("LabOfferPackageManaged")
            : tr("LabOfferReadOnly").arg(QDir::toNativeSeparators(applicationDir)));
    // Release notes are the cloud's text; never read as markup.
    ui->textNotes->setPlainText(release.description);

    m_address = addressOf(release.url, homepage);
    ui->leAddress->setText(m_address);
    ui->leAddress->setCursorPosition(0);
    for (QWidget *w : {static_cast<QWidget *>(ui->labAddress),
             static_cast<QWidget *>(ui->leAddress), static_cast<QWidget *>(ui->btnCopyAddress)})
        w->setVisible(!m_address.isEmpty());
    ui->btnCopyAddress->setText(tr("BtnCopyAddress"));
}

void ZoHaldenOfferForm::copyAddress()
{
    QGuiApplication::clipboard()->setText(m_address);
    ui->btnCopyAddress->setText(tr("BtnAddressCopied"));
}
