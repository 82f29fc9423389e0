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
    // Reading a device back after its transfer: a module is asked every
    // query interval until it answers, the core is given time to restart.
    int confirmModuleMs = 8000;
    int confirmCoreMs = 30000;
    int confirmQueryMs = 1000;
    // How long the buses are listened to for bootloaders that answer, and
    // the time over which the queries of one bus kind are spread when there
    // are many (every number of a type). A bus kind is asked within the two
    // together: under two seconds.
    int probeListenMs = 800;
    int probeSweepMs = 1000;
    // How long a silent link's core is asked whether it is in its bootloader.
    int coreRecoveryMs = 1500;
    Search search;
};
