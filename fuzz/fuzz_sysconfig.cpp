// sysconfig.xml: the same parse as ZoConfigUtils::loadConfig, then a save of
// whatever was loaded into a fresh document and a reload of that.
#include "ZoConfigUtils.h"
#include "ZoPlaneConfig.h"

#include <QDomDocument>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QDomDocument in;
    if (!in.setContent(bytes, false) || in.isNull())
        return 0;
    ZoConfigUtils utils;
    utils.parse(in.documentElement());

    QDomDocument out;
    out.appendChild(out.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = out.createElement(QStringLiteral("config"));
    out.appendChild(root);
    if (!utils.write(root, out))
        std::abort();
    const QByteArray saved = out.toByteArray(4);

    QDomDocument again;
    if (!again.setContent(saved, false))
        return 0;
    ZoConfigUtils reread;
    // What we wrote always has a "lan" element, so this must load.
    if (!reread.parse(again.documentElement()))
        std::abort();
    if (reread.ignoreDevices() != utils.ignoreDevices())
        std::abort();
    return 0;
}
