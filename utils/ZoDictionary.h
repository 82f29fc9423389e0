#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// A program's dictionary, "<prefix>_<lang>.qm", installed into the
// application in layers so that a text one file lacks comes from the next
// instead of showing its key:
//  - the language is the one asked for when any folder below holds its
//    file, else English;
//  - its file from <workingDir>/dict (a portable copy, a build tree, a
//    station's own texts), then from <applicationDir>/dict (the installed
//    files), then the one compiled into the program (":/dict/");
//  - below them all, English from the same folders in the same order.
// Created, used and destroyed on the main thread. Its translators are its
// children: they leave the application when it is destroyed.
class ZoDictionary : public QObject
{
public:
    static const char *const EmbeddedDir; // ":/dict"
    static const char *const FallbackLanguage; // "en_US"

    explicit ZoDictionary(QObject *parent = nullptr);

    // The files install() loads, the one whose texts win first.
    static QStringList layers(const QString &prefix, const QString &language,
        const QString &workingDir, const QString &applicationDir);

    // Loads and installs layers(). True when at least one was installed.
    bool install(const QString &prefix, const QString &language, const QString &workingDir,
        const QString &applicationDir);
};
