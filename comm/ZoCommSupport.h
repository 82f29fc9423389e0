#pragma once

// Internal to the links: their logging category, and the setter logic shared
// by the network links.

#include <QLoggingCategory>
#include <QString>

#include <memory>

class QHostAddress;

Q_DECLARE_LOGGING_CATEGORY(lcComm)

namespace ZoComm {

// The contract messages name the source the way the links always have.
void contractViolation(const char *source, const char *message, const QString &detail = QString());

// A link's settings stay as they are while it is open: true (and the contract
// message) when the setter must refuse.
bool refuseWhileOpen(const char *source, bool open, const char *message);

// The network links' remote address, dotted IPv4 text as ZoIpv4Address reads
// it. A malformed text is refused and the address forgotten, so that open()
// keeps the link closed instead of sending nowhere.
bool setHostAddress(const char *source, bool open, const QString &text,
    std::unique_ptr<QHostAddress> &address, bool &rejected);

} // namespace ZoComm
