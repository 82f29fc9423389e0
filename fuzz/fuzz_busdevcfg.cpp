// busdevcfg.xml: the same parse as ZoBusDevCfg::loadFile.
#include "ZoBusDevCfg.h"

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
    QDomDocument doc;
    if (!doc.setContent(bytes) || doc.isNull())
        return 0;
    ZoBusDevCfg cfg;
    if (!cfg.parse(doc.documentElement()))
        std::abort();
    // Ids are unique; the lists can never exceed the 256 possible bytes.
    if (cfg.tunexNodeIds().size() > 256 || cfg.servoNodeIds().size() > 256)
        std::abort();
    return 0;
}
