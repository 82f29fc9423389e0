#include "ZoDictionary.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTranslator>

#include <memory>

const char *const ZoDictionary::EmbeddedDir = ":/dict";
const char *const ZoDictionary::FallbackLanguage = "en_US";

ZoDictionary::ZoDictionary(QObject *parent)
    : QObject(parent)
{
}

QStringList ZoDictionary::layers(const QString &prefix, const QString &language,
    const QString &workingDir, const QString &applicationDir)
{
    QStringList folders;
    for (const QString &dir : {workingDir, applicationDir}) {
        const QString folder = QDir::cleanPath(dir + QStringLiteral("/dict"));
        if (!dir.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    folders << QLatin1String(EmbeddedDir);
    const auto fileOf = [&prefix](const QString &folder, const QString &lang) {
        return folder + QLatin1Char('/') + prefix + QLatin1Char('_') + lang + QStringLiteral(".qm");
    };

    // The language comes from a settings file: only a language code may
    // become part of a file name.
    static const QRegularExpression code(QStringLiteral("\\A[a-z]{2,3}(_[A-Z]{2})?\\z"));
    const QString english = QLatin1String(FallbackLanguage);
    QString chosen = english;
    for (const QString &folder : folders)
        if (code.match(language).hasMatch() && QFileInfo(fileOf(folder, language)).isFile())
            chosen = language;

    QStringList files;
    for (const QString &lang :
        chosen == english ? QStringList {english} : QStringList {chosen, english})
        for (const QString &folder : folders)
            if (QFileInfo(fileOf(folder, lang)).isFile())
                files << fileOf(folder, lang);
    return files;
}

bool ZoDictionary::install(const QString &prefix, const QString &language,
    const QString &workingDir, const QString &applicationDir)
{
    // The application asks the translator installed last first.
    const QStringList files = layers(prefix, language, workingDir, applicationDir);
    bool installed = false;
    for (auto it = files.crbegin(); it != files.crend(); ++it) {
        auto translator = std::make_unique<QTranslator>(this);
        if (translator->load(*it) && QCoreApplication::installTranslator(translator.get())) {
            translator.release(); // stays this object's child
            installed = true;
        } else {
            qWarning().noquote() << "cannot use the dictionary" << *it;
        }
    }
    return installed;
}
