#pragma once

// Internal to the links: their logging category and the address text parser
// shared by the network links.

#include <QLoggingCategory>
#include <QString>

#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcComm)

namespace ZoComm {

// Dotted IPv4 text: split at '.', empty parts skipped, exactly four parts of
// decimal digits, each at most 255. Anything else is refused.
bool parseDottedIpv4(const QString &text, uint32_t *address);

// The contract messages name the source the way the links always have.
void contractViolation(const char *source, const char *message, const QString &detail = QString());

} // namespace ZoComm
