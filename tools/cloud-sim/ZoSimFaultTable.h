#pragma once

#include <QJsonObject>
#include <QString>

#include <mutex>
#include <string>
#include <vector>

// What goes wrong with one reply. Several switches may be combined; they act
// in this order: delay, hang, httpStatus / apiStatus, then the body faults
// (empty, malformed), then the way the body is sent (chunked, rate, and stall
// or drop, which end it early).
struct ZoSimFault
{
    int delayMs = 0; // wait before answering
    int hangSec = 0; // send nothing for this long, then close without a reply
    int httpStatus = 0; // answer with this HTTP status and an error envelope
    int apiStatus = 0; // keep HTTP 200 but put this into the envelope's "status"
    bool emptyBody = false;
    bool malformed = false; // cut the body in half (a JSON reply no longer parses)
    bool drop = false; // announce the full length, send part of it, close
    qint64 dropAfter = -1; // bytes sent before the close; -1: half the body
    qint64 rateBytesPerSec = 0; // send the body at this pace, a slice every 100 ms
    int stallSec = 0; // send part of the body, then nothing for this long, then close
    qint64 stallAfter = -1; // bytes sent before the stall; -1: half the body
    bool chunked = false; // no Content-Length: chunked transfer encoding

    // Whether the body goes out through a content provider rather than at once.
    bool streamed() const { return drop || rateBytesPerSec > 0 || stallSec > 0 || chunked; }
    bool any() const
    {
        return delayMs > 0 || hangSec > 0 || httpStatus > 0 || apiStatus > 0 || emptyBody
            || malformed || streamed();
    }
    QString describe() const;
};

// Faults per request path. A pattern is an exact path or a prefix ending in
// '*' ("/files/*"); an exact match wins over prefixes, a longer prefix over a
// shorter one. A rule may be limited to its first N matching requests.
class ZoSimFaultTable
{
public:
    // {"faults": {"<pattern>": {"delay": 500, "hang": 30, "status": 503,
    //  "apiStatus": 500, "empty": true, "malformed": true, "drop": true | <bytes>,
    //  "rate": <bytes per second>, "stall": <seconds>, "stallAt": <bytes>,
    //  "chunked": true, "times": 1}}}
    bool loadFile(const QString &path, QString *error);
    bool addRule(const QString &pattern, const QJsonObject &settings, QString *error);
    // "<pattern>:kind[=value][,kind[=value]...]", the same kinds as the file.
    bool addFlag(const QString &flag, QString *error);

    // The fault for one request to path; uses up one of a limited rule's turns.
    ZoSimFault take(const std::string &path);

private:
    struct Rule
    {
        QString pattern;
        bool prefix = false;
        ZoSimFault fault;
        int times = 0; // 0: every request
        int used = 0;
    };
    std::mutex m_mutex;
    std::vector<Rule> m_rules;
};
