// A firmware file from the cloud (or a folder given to tolvane-cli) as the
// upgrade workflow takes it: the target it shows, then the preparation of a
// transfer (header checks, body length, padding), whatever the header claims.
#include "ZoFRMFileInfo.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoUpgradeWorkflow.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_upgrade_prepare";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static ZoPlaneConfig config;
    static std::unique_ptr<ZoUpgradeWorkflow> wf = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*=false"));
        ZoUpgradeEnvironment env;
        env.link = &config;
        auto w = std::make_unique<ZoUpgradeWorkflow>(env);
        w->source().setVersionReporting(false);
        return w;
    }();
    static bool finished = false;
    static bool connected = [] {
        QObject::connect(wf.get(), &ZoUpgradeWorkflow::sigRunEnded, [] { finished = true; });
        return true;
    }();
    (void)connected;

    wf->onClosePlaneComm();
    // A first-generation core carries no bus modules, so no bus is asked
    // for bootloaders and the run starts within upgradeAll().
    tVersion core;
    core.type = 2;
    core.major = 1;
    wf->onUpdateGNCFMVersion(core);
    wf->onAutoSearchPlaneFinished(true, 1);

    ZoFRMFileInfo info;
    info.fid = 2;
    info.version.type = 2;
    info.version.major = 2;
    info.setBytes(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    wf->onUpdateDevFRMTarInfo(info);

    finished = false;
    wf->upgradeAll();
    // Either the run ended at once (nothing due, or the file refused), or the
    // core is on its way into its bootloader with an image to send.
    const bool started = wf->stage() == ZoUpgradeWorkflow::Stage::UpgradingCore
        && wf->transferState() == ZoTransferSession::State::Entering;
    if (finished == started)
        std::abort();
    return 0;
}
