#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QString>

// The envelope every reply of the cloud service comes in:
//
//   {"status": 200, "message": "success", "data": {...}}
//
// Read the same way by the firmware cloud client and by the updater's release
// check, so that a reply one of them accepts the other does not refuse.
class ZoCloudEnvelope
{
public:
    // What Q_LOGGING_CATEGORY defines: the log lines keep their caller's
    // category.
    using LogCategory = const QLoggingCategory &(*)();

    // True when body is a JSON object with a "status" of 200, a "message"
    // and a non-empty object as "data". A status that is not a whole number
    // in int's range reads as 0. Whatever was read stays in the members, also
    // on failure. A status other than 200 is logged to log as
    // "Nimbra Server Reply not success: <status> <message>".
    bool parse(const QByteArray &body, LogCategory log);

    int status = 0;
    QString message;
    QJsonObject data;
};
