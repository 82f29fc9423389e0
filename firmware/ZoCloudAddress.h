#pragma once

#include <QString>

// Where the cloud service lives. The build fixes a default base address
// (scheme, host and optional port); TOLVANE_CLOUD_URL overrides it at run
// time so a test bench or a staging service can stand in for it. The cloud
// client and the updater's check address are both built from this one base.
class ZoCloudAddress
{
public:
    static const char *const EnvironmentVariable; // "TOLVANE_CLOUD_URL"
    static const char *const SoftwareUpgradeQueryPath;

    // The build-time default, without a trailing slash.
    static QString defaultBaseUrl();
    // TOLVANE_CLOUD_URL when it holds an http or https address with a host,
    // else the default (an unusable override is logged). No trailing slash.
    static QString baseUrl();
    // baseUrl() followed by path (which starts with '/').
    static QString url(const QString &path);
    // The address start-up hands the updater with "-url".
    static QString softwareUpgradeQueryUrl();

    // The resolution itself, for callers that hold the override text.
    static QString resolve(const QString &overrideText);
};
