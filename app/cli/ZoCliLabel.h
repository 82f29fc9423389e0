#pragma once

#include "ZoCliDevice.h"

#include <QDateTime>
#include <QList>
#include <QString>

// The one line tolvane-cli --station prints per aircraft it served, to be
// stuck on the aircraft or read back by a program: space-separated fields,
// the first the word "label", then key=value pairs in a fixed order, then
// one TYPE.NUMBER=VERSION/RESULT per device in the run's order:
//
//   label eid=3A0F2C5D00170043 time=2026-12-08T22:40:12Z result=upgraded
//         link=tcp:127.0.0.1:8001 77.1=2.0.4/upgraded 80.0=1.8.2/upgraded
//
// (one line), devices that did not answer left out. A value never holds a blank ("not confirmed"
// becomes "not-confirmed"; an unknown EID or version is "-"). VERSION is what the device runs after
// the run, as far as the run knows. A pure value type.
struct ZoCliLabel
{
    QString eid;
    QDateTime time; // UTC
    QString result;
    QString link;
    QList<ZoCliDevice> devices;
    // The result each device shows; empty: its own outcome's.
    QString deviceResult;

    QString line() const;

    // A QR module's side in the picture, in pixels.
    static constexpr int ModulePixels = 6;

    // Writes the label as a picture: a QR code of the line itself, its
    // quiet zone four modules wide from the top left corner, and the line's
    // fields as text on its right. Needs a QGuiApplication (its fonts). False with *error when it
    // cannot (among others, a program built without libqrencode).
    bool writePng(const QString &path, QString *error) const;
    // Whether writePng can work in this build.
    static bool pngAvailable();
    // The file name the station gives an aircraft's picture.
    QString pngName() const;
};
