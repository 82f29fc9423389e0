#pragma once

#include <QObject>
#include <QString>

// One application of an offered release, as a row of the upgrade list shows
// it: the version, its names and release notes in both languages.
class ZoApplicationUpgradeInfo : public QObject
{
    Q_OBJECT
public:
    explicit ZoApplicationUpgradeInfo(QObject *parent = nullptr);

    QString version;
    QString nameZh;
    QString nameEn;
    QString descriptionZh;
    QString descriptionEn;
    bool isUpgradeAvailable = false;
    bool isMandatory = false;
};
