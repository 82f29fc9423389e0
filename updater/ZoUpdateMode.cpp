#include "ZoUpdateMode.h"

#include "ZoPlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryFile>

Q_LOGGING_CATEGORY(lcUpdateMode, "haldenupdate.mode")

namespace ZoUpdateMode {

Mode forInstallation(const QString &applicationDir)
{
    Mode mode = SelfUpdate;
    if (ZoPlatform::isPackageManaged(applicationDir))
        mode = OfferPackageManaged;
    else if (!canWriteFolder(applicationDir))
        mode = OfferReadOnly;
    qCDebug(lcUpdateMode).noquote() << applicationDir << "mode" << mode;
    return mode;
}

bool canWriteFolder(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".zohalden-probe-XXXXXX")));
    return probe.open(); // removed when it goes out of scope
}

} // namespace ZoUpdateMode
