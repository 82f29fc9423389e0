#pragma once

// Every wait of the engine, in one record that each part reads its own
// fields from. The defaults are the protocol's and the aircraft's; tests and
// benchmarks shorten them.
struct ZoUpgradeTimings
{
    // The device search's.
    struct Search
    {
        int detectMs = 1000;
        int waitPlaneDataMs = 800;
        int waitModuleInfoMs = 800;
    };

    // A transfer: the bootloader's entry, its erase, each block.
    int enterBootloaderMs = 3000;
    int eraseMs = 12000;
    int blockMs = 2000;
    int betweenDevicesMs = 1000;
    int identityToCatalogueMs = 2000;
    // How long the catalogue waits for a core's identity at the most.
    int identityWaitMs = 5000;
    // Adding a device by hand.
    int manualModuleMs = 2000;
    int manualCoreMs = 4000;
    int forceReportDelayMs = 1000;
    int researchDelayMs = 200;
    // Reading a device back after its transfer: it is asked at once and then
    // every query interval until it answers, a module for its time and the
    // core for the longer time a restart may take.
    int confirmModuleMs = 8000;
    int confirmCoreMs = 30000;
    int confirmQueryMs = 250;
    // How long the buses are listened to for bootloaders that answer, and
    // the time over which the queries of one bus kind are spread when there
    // are many (every number of a type). A bus kind is asked within the two
    // together: under two seconds.
    int probeListenMs = 800;
    int probeSweepMs = 1000;
    // A run that starts this soon after the search's look at the buses takes
    // that look for its own: a run that follows its listing at once asks
    // once, one started after a user read the list asks again.
    int probeFreshMs = 2000;
    // How long a silent link's core is asked whether it is in its bootloader.
    int coreRecoveryMs = 1500;
    Search search;
};
