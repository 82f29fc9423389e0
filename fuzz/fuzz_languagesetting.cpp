// The updater's config/sysconfig-language.xml: whatever the file holds, it is
// read without fault, and the same content always gives the same language.
#include "ZoHaldenStartup.h"

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("haldenupdate.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString locale = QStringLiteral("xx_YY");
    const QString language = ZoHaldenStartup::parseLanguageSetting(bytes, locale);
    if (ZoHaldenStartup::parseLanguageSetting(bytes, locale) != language)
        std::abort();
    return 0;
}
