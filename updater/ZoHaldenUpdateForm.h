#pragma once

#include <QFuture>
#include <QMap>
#include <QString>
#include <QWidget>

#include <memory>

#include "ZoDownloadManager.h"
#include "ZoHaldenUpdateInfo.h"
#include "ZoHttpHelper.h"
#include "ZoTypes.h"
#include "ZoUpdateMode.h"

namespace Ui {
class ZoHaldenUpdateForm;
}
class ZoHaldenOfferForm;
class ZoUpgradeListWidget;

// The updater's window and the conductor of one update: hidden while the
// release check runs, it either asks to end the program or shows the offer,
// then downloads the archive, ends the application, installs the archive
// over the installation and offers to start the application again. Where
// the installation is not its own to change (ZoUpdateMode), a newer release
// is only told about and closing that ends the program with 0.
class ZoHaldenUpdateForm : public QWidget
{
    Q_OBJECT
public:
    explicit ZoHaldenUpdateForm(QWidget *parent = nullptr);
    ~ZoHaldenUpdateForm() override;

    void setLanguage(const QString &language);
    void setCurVersion(const QString &version) { m_curVersion = version; }
    void setChannel(tds4 channel) { m_channel = channel; }
    void setName(const QString &name) { m_name = name; }
    void setCode(const QString &code) { m_code = code; }
    // The installation the archive is extracted into and the application is
    // started from; the program's own folder unless set.
    void setApplicationDir(const QString &dir) { m_applicationDir = dir; }
    QString applicationDir() const { return m_applicationDir; }
    void startCheck(const QString &url);

    bool isUpdating() const { return m_isUpdating; }
    ZoUpgradeListWidget *upgradeList() const;
    // Decided once a newer release is found; SelfUpdate until then.
    ZoUpdateMode::Mode updateMode() const { return m_mode; }
    // The offer shown instead of the list; null unless the mode is an offer.
    ZoHaldenOfferForm *offer() const { return m_offer; }

    // True when offered is a later version than installed: the dot-separated
    // parts compared as decimal numbers, a missing or non-numeric part
    // counting 0.
    static bool isNewerVersion(const QString &offered, const QString &installed);

Q_SIGNALS:
    void sigUnZipProgressValueChanged(tds8 unzipFileNum, tds8 totalFileNum);
    void sigUnZipFinished(bool isSucc);
    void sigCopyFilesProgressChanged(tds4 currIndex, tds4 totalNum);
    // The program is to end with exitCode. Emitted at most once.
    void sigExitRequested(int exitCode);

public Q_SLOTS:
    void onUpgradeGcs(bool isStartUpgrade);
    void on_btnUpgrade_clicked();
    void onHaldenUpgradeTipDownloaded(const ZoHaldenUpdateInfo &info);
    void onDownloadTipFailed(const QString &errStr);
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onDownloadFinished(const QString &filename, bool isSucc);
    void onUnZipProgressValueChanged(tds8 unzipFileNum, tds8 totalFileNum);
    void onUnZipFinished(bool isSucc);
    void onCopyFilesProgressChanged(tds4 currIndex, tds4 totalNum);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void checkIsQuit(tds4 key, tds4 state);
    void requestExit(int exitCode);
    void showOffer();
    void startUpdate();
    void stopUpdate();
    void startUnzip();
    void unzipWorker(const QString &destDir, const QString &zipPath);
    void startApplication();

    std::unique_ptr<Ui::ZoHaldenUpdateForm> ui;
    QString m_language;
    ZoHttpHelper m_httpHelper;
    ZoHaldenUpdateInfo m_info;
    ZoDownloadManager m_downloadManager;
    QString m_zipFileName;
    QString m_curVersion;
    QString m_name;
    tds4 m_channel = -1;
    QString m_code;
    QString m_applicationDir;
    ZoUpdateMode::Mode m_mode = ZoUpdateMode::SelfUpdate;
    ZoHaldenOfferForm *m_offer = nullptr; // child of this
    bool m_isUpdating = false;
    bool m_exitRequested = false;
    QMap<tds4, tds4> m_checkResults {{0, 0}};
    // The running extraction; the form waits for it before it goes away,
    // since the pool thread emits the form's signals.
    QFuture<void> m_unzipFuture;
};
