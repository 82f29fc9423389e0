#pragma once

// Internal to the links: their logging category, and the address text parser
// and setter logic shared by the network links.

#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <memory>

class QHostAddress;

Q_DECLARE_LOGGING_CATEGORY(lcComm)

namespace ZoComm {

// Dotted IPv4 text: split at '.', empty parts skipped, exactly four parts of
// decimal digits, each at most 255. Anything else is refused.
bool parseDottedIpv4(const QString &text, uint32_t *address);

// The contract messages name the source the way the links always have.
void contractViolation(const char *source, const char *message, const QString &detail = QString());

// A link's settings stay as they are while it is open: true (and the contract
// message) when the setter must refuse.
bool refuseWhileOpen(const char *source, bool open, const char *message);

// The network links' remote address. A malformed text is refused and the
// address forgotten, so that open() keeps the link closed instead of sending
// nowhere.
bool setHostAddress(const char *source, bool open, const QString &text,
    std::unique_ptr<QHostAddress> &address, bool &rejected);

} // namespace ZoComm
