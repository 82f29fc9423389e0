<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>MsgGNCEmba</source>
        <translation>Emba flight controller</translation>
    </message>
    <message>
        <source>MsgGNCArno</source>
        <translation>Arno flight controller</translation>
    </message>
    <message>
        <source>MsgGNCDRENT</source>
        <translation>DRENT flight controller</translation>
    </message>
    <message>
        <source>MsgPwb6S</source>
        <translation>PWB 6S power board</translation>
    </message>
    <message>
        <source>MsgPwb12S</source>
        <translation>PWB 12S power board</translation>
    </message>
    <message>
        <source>MsgFennic</source>
        <translation>Fennic radio</translation>
    </message>
    <message>
        <source>MsgGNCBrisk</source>
        <translation>Brisk flight controller</translation>
    </message>
    <message>
        <source>MsgGostrel</source>
        <translation>Gostrel ESC</translation>
    </message>
    <message>
        <source>MsgQV1</source>
        <translation>QV1 camera</translation>
    </message>
    <message>
        <source>MsgExtCompass</source>
        <translation>External compass</translation>
    </message>
    <message>
        <source>MsgFuelGauge</source>
        <translation>Fuel gauge</translation>
    </message>
    <message>
        <source>MsgGNCArno2</source>
        <translation>Arno2 flight controller</translation>
    </message>
    <message>
        <source>MsgGNCBrisk2DataBoard</source>
        <translation>R4 data board</translation>
    </message>
    <message>
        <source>MsgGNCBrisk2FeatureBoard</source>
        <translation>R4 feature board</translation>
    </message>
    <message>
        <source>MsgJX1</source>
        <translation>JX1 radar</translation>
    </message>
    <message>
        <source>MsgGNCBrisk2</source>
        <translation>Brisk2 flight controller</translation>
    </message>
    <message>
        <source>MsgWN1</source>
        <translation>WN1 wind sensor</translation>
    </message>
    <message>
        <source>MsgTachmometer</source>
        <translation>Tachometer</translation>
    </message>
    <message>
        <source>MsgK58NavBoard</source>
        <translation>K58 navigation board</translation>
    </message>
    <message>
        <source>MsgGNCTunex</source>
        <translation>Tunex tuning module</translation>
    </message>
    <message>
        <source>MsgGNCVexaGNSS_A</source>
        <translation>Vexa GNSS A</translation>
    </message>
    <message>
        <source>MsgGNCHesk24S</source>
        <translation>Hesk24S battery</translation>
    </message>
    <message>
        <source>MsgGNCEmba2</source>
        <translation>Emba2 flight controller</translation>
    </message>
    <message>
        <source>MsgGNCEmba2DataBoard</source>
        <translation>Emba2 data board</translation>
    </message>
    <message>
        <source>MsgGNCServo</source>
        <translation>Servo</translation>
    </message>
    <message>
        <source>MsgJX1Pro</source>
        <translation>JX1 Pro radar</translation>
    </message>
    <message>
        <source>MsgGNCVexaGNSS_B</source>
        <translation>Vexa GNSS B</translation>
    </message>
    <message>
        <source>MsgUnknownDev</source>
        <translation>Unknown device</translation>
    </message>
    <message>
        <source>MsgMR</source>
        <translation>Multirotor</translation>
    </message>
    <message>
        <source>MsgFW</source>
        <translation>Fixed wing</translation>
    </message>
    <message>
        <source>MsgQP</source>
        <translation>Quadplane</translation>
    </message>
    <message>
        <source>MsgAG</source>
        <translation>Agricultural</translation>
    </message>
    <message>
        <source>LabWarning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>LabFirmwareUpdateToolStartFailedPleaseReinstall</source>
        <translation>The software updater could not be started. Please reinstall the program.</translation>
    </message>
</context>
<context>
    <name>ZoAddGNCForm</name>
    <message>
        <source>WndAddGNCForm</source>
        <translation>Add a flight controller</translation>
    </message>
    <message>
        <source>MsgNotFoundGNC</source>
        <translation>Flight controller not found</translation>
    </message>
    <message>
        <source>BtnManualAdd</source>
        <translation>Add by hand</translation>
    </message>
</context>
<context>
    <name>ZoCoreFMHeaderForm</name>
    <message>
        <source>WndCoreFMHeaderForm</source>
        <translation>Flight controller</translation>
    </message>
    <message>
        <source>LabGNC</source>
        <translation>Flight controller</translation>
    </message>
    <message>
        <source>LitMR</source>
        <translation>Multirotor</translation>
    </message>
    <message>
        <source>LitFW</source>
        <translation>Fixed wing</translation>
    </message>
    <message>
        <source>LitQP</source>
        <translation>Quadplane</translation>
    </message>
    <message>
        <source>LitAG</source>
        <translation>Agricultural</translation>
    </message>
    <message>
        <source>LitQelvo</source>
        <translation>Qelvo</translation>
    </message>
    <message>
        <source>LitTarn</source>
        <translation>Tarn</translation>
    </message>
</context>
<context>
    <name>ZoDataLinkSettingForm</name>
    <message>
        <source>WndDataLinkSettingForm</source>
        <translation>Data link settings</translation>
    </message>
    <message>
        <source>LabDataLinkSetting</source>
        <translation>Data link settings</translation>
    </message>
    <message>
        <source>BtnSerialPort</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>BtnUDP</source>
        <translation>UDP</translation>
    </message>
    <message>
        <source>BtnVorn2</source>
        <translation>TCP client</translation>
    </message>
    <message>
        <source>LabHost</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>LabHostPort</source>
        <translation>Host port</translation>
    </message>
    <message>
        <source>LabLocalPort</source>
        <translation>Local port</translation>
    </message>
</context>
<context>
    <name>ZoHistoryForm</name>
    <message>
        <source>WndFlashHistory</source>
        <translation>Flash history</translation>
    </message>
    <message>
        <source>LabFlashHistory</source>
        <translation>Flash history</translation>
    </message>
    <message>
        <source>LabHistoryAircraft</source>
        <translation>Aircraft EID %1</translation>
    </message>
    <message>
        <source>LabHistoryTime</source>
        <translation>Time (UTC)</translation>
    </message>
    <message>
        <source>LabHistoryDevice</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>LabHistoryVersions</source>
        <translation>Before → after</translation>
    </message>
    <message>
        <source>LabHistoryFile</source>
        <translation>File</translation>
    </message>
    <message>
        <source>LabHistoryTransfer</source>
        <translation>Transfer</translation>
    </message>
    <message>
        <source>LitSeconds</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>LitResends</source>
        <translation>resends: %1</translation>
    </message>
    <message>
        <source>LabHistoryResult</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>BtnClose</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>MsgHistoryNoFlashes</source>
        <translation>No flash of this aircraft is on record yet.</translation>
    </message>
    <message>
        <source>MsgHistoryUnreadable</source>
        <translation>The flash history cannot be read (%1).</translation>
    </message>
    <message>
        <source>LabHistoryDetails</source>
        <translation>Serial %1 · target %2
File %3 (%4 bytes)
Link %5 · station %6, user %7 · %8</translation>
    </message>
    <message>
        <source>LitSourceStable</source>
        <translation>stable</translation>
    </message>
    <message>
        <source>LitSourceDevelopment</source>
        <translation>development</translation>
    </message>
    <message>
        <source>LitSourceFolder</source>
        <translation>folder</translation>
    </message>
    <message>
        <source>LitSourceCustom</source>
        <translation>custom %1</translation>
    </message>
    <message>
        <source>LitResultUpgraded</source>
        <translation>upgraded</translation>
    </message>
    <message>
        <source>LitResultNotConfirmed</source>
        <translation>not confirmed</translation>
    </message>
    <message>
        <source>LitResultFailed</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>LitResultInterrupted</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>LitResultUpToDate</source>
        <translation>up to date</translation>
    </message>
    <message>
        <source>LitResultSkipped</source>
        <translation>skipped</translation>
    </message>
    <message>
        <source>LitFailureRefusedFile</source>
        <translation>file refused</translation>
    </message>
    <message>
        <source>LitFailureNoTarget</source>
        <translation>no target</translation>
    </message>
    <message>
        <source>LitFailureJournal</source>
        <translation>run journal unwritable</translation>
    </message>
    <message>
        <source>LitFailureUnidentified</source>
        <translation>flight controller unidentified</translation>
    </message>
    <message>
        <source>LitFailureSendFailed</source>
        <translation>send failed</translation>
    </message>
    <message>
        <source>LitFailureBlockTimeout</source>
        <translation>block %1 unanswered</translation>
    </message>
    <message>
        <source>LitFailureLinkLost</source>
        <translation>link lost</translation>
    </message>
    <message>
        <source>LitFailureWrongVersion</source>
        <translation>wrong version after</translation>
    </message>
    <message>
        <source>LitFailureSilent</source>
        <translation>no answer afterwards</translation>
    </message>
    <message>
        <source>LitFailureOtherAircraft</source>
        <translation>another aircraft answered</translation>
    </message>
</context>
<context>
    <name>ZoManualAddModuleForm</name>
    <message>
        <source>WndManualAddModuleForm</source>
        <translation>Add a module</translation>
    </message>
    <message>
        <source>MsgNotFoundModule</source>
        <translation>Module not found</translation>
    </message>
    <message numerus="yes">
        <source>MsgOptionalSilent</source>
        <translation>
            <numerusform>%n optional module did not answer</numerusform>
            <numerusform>%n optional modules did not answer</numerusform>
        </translation>
    </message>
    <message>
        <source>BtnAdd</source>
        <translation>Add</translation>
    </message>
</context>
<context>
    <name>ZoMessageBox</name>
    <message>
        <source>LabYes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>LabNo</source>
        <translation>No</translation>
    </message>
    <message>
        <source>BtnYes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>BtnNo</source>
        <translation>No</translation>
    </message>
    <message>
        <source>BtnOk</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>BtnCancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ZoModuleFMHeaderForm</name>
    <message>
        <source>WndModuleFMHeaderForm</source>
        <translation>Modules</translation>
    </message>
    <message>
        <source>LabDevice</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>LabModule</source>
        <translation>Module</translation>
    </message>
    <message>
        <source>LabCurVersion</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>LabNewestVersion</source>
        <translation>Newest</translation>
    </message>
    <message>
        <source>LabUpgradInfo</source>
        <translation>Status</translation>
    </message>
</context>
<context>
    <name>ZoModuleFMInfoForm</name>
    <message>
        <source>WndModuleFMInfoForm</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>BtnDetails</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>LabCanUpgrade</source>
        <translation>Upgrade available</translation>
    </message>
    <message>
        <source>LabUpgraded</source>
        <translation>Up to date</translation>
    </message>
    <message>
        <source>LabConfirming</source>
        <translation>Confirming…</translation>
    </message>
    <message>
        <source>LabPhaseEntering</source>
        <translation>Entering bootloader…</translation>
    </message>
    <message>
        <source>LabPhaseErasing</source>
        <translation>Erasing…</translation>
    </message>
    <message>
        <source>LabPhaseRestarting</source>
        <translation>Restarting…</translation>
    </message>
    <message>
        <source>LabUpgradeDone</source>
        <translation>Upgraded</translation>
    </message>
    <message>
        <source>LabNotConfirmed</source>
        <translation>Not confirmed</translation>
    </message>
    <message>
        <source>LabReports</source>
        <translation>reports</translation>
    </message>
    <message>
        <source>LabNoAnswer</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>LabUpgradeFailed</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>LabInterrupted</source>
        <translation>Interrupted</translation>
    </message>
    <message>
        <source>LabInBootloader</source>
        <translation>In bootloader</translation>
    </message>
    <message>
        <source>LabNotAnswering</source>
        <translation>Not answering</translation>
    </message>
    <message>
        <source>LabMissing</source>
        <translation>Expected, not answering</translation>
    </message>
</context>
<context>
    <name>ZoSearchPlaneDeviceForm</name>
    <message>
        <source>WndPlanesSearchForm</source>
        <translation>Searching for the aircraft</translation>
    </message>
    <message>
        <source>BtnCancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>MsgDeviceSearching</source>
        <translation>Looking for the flight controller</translation>
    </message>
</context>
<context>
    <name>ZoSelectGNCForm</name>
    <message>
        <source>WndSelectGNCForm</source>
        <translation>Choose the flight controller</translation>
    </message>
    <message>
        <source>WndAddGNCDevice</source>
        <translation>Add a flight controller</translation>
    </message>
    <message>
        <source>LabGNCName</source>
        <translation>Flight controller</translation>
    </message>
    <message>
        <source>LabProtType</source>
        <translation>Airframe</translation>
    </message>
    <message>
        <source>BtnAdd</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>BtnCancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ZoSelectModuleForm</name>
    <message>
        <source>WndSelectModuleForm</source>
        <translation>Choose the module</translation>
    </message>
    <message>
        <source>LabAddModule</source>
        <translation>Add a module by hand</translation>
    </message>
    <message>
        <source>MsgAddInfoTip</source>
        <translation>Choose the device that was not found.</translation>
    </message>
    <message>
        <source>BtnAdd</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>BtnCancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ZoTitleBar</name>
    <message>
        <source>Restore</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>Maximize</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ZoTolMainWindow</name>
    <message>
        <source>BtnRetry</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>BtnAdd</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>BtnCancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>MsgInfo</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>MsgConfirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>BtnYes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>BtnMessageBoxNo</source>
        <translation>No</translation>
    </message>
    <message>
        <source>MsgFirmDownloading</source>
        <translation>Downloading firmware…</translation>
    </message>
    <message>
        <source>MsgFirmDownloaded</source>
        <translation>Firmware downloaded</translation>
    </message>
    <message>
        <source>MsgFirmDownloadFailed</source>
        <translation>Firmware download failed</translation>
    </message>
    <message>
        <source>WndAppName</source>
        <translation>Tolvane Firmware Upgrade</translation>
    </message>
    <message>
        <source>BtnDLSetting</source>
        <translation>Link settings</translation>
    </message>
    <message>
        <source>btnGet</source>
        <translation>Fetch</translation>
    </message>
    <message>
        <source>LitStable</source>
        <translation>Stable</translation>
    </message>
    <message>
        <source>LitDev</source>
        <translation>Development</translation>
    </message>
    <message>
        <source>LitCustom</source>
        <translation>Custom</translation>
    </message>
    <message>
        <source>BtnUpgrade</source>
        <translation>Upgrade all</translation>
    </message>
    <message>
        <source>MsgCopyRight</source>
        <translation>Copyright © Korvel Halden. All rights reserved.</translation>
    </message>
    <message>
        <source>LabKeepOnPower</source>
        <translation>Keep the aircraft powered during the upgrade.</translation>
    </message>
    <message>
        <source>LabDoNotDisconnect</source>
        <translation>Do not disconnect the aircraft or cut its power.</translation>
    </message>
    <message>
        <source>LabRestartAfterDone</source>
        <translation>Power-cycle the aircraft when the upgrade is done.</translation>
    </message>
    <message>
        <source>LabConnected</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>LabUnConnected</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>MsgDetailInfo</source>
        <translation>details</translation>
    </message>
    <message>
        <source>MsgReleaseNote</source>
        <translation>Release notes:</translation>
    </message>
    <message>
        <source>MsgPleaseConfirm</source>
        <translation>Please confirm</translation>
    </message>
    <message>
        <source>MsgExitOrNot</source>
        <translation>An upgrade is running. Quitting now can leave a device without working firmware. Quit anyway?</translation>
    </message>
    <message>
        <source>MsgStopUpgradeOrNot</source>
        <translation>An upgrade is under way. Stopping now leaves the device being flashed in its bootloader; the next run recovers it. Stop?</translation>
    </message>
    <message>
        <source>MsgRunNotConfirmedReports</source>
        <translation>%1 took the new firmware but did not report it back (it reports %2). It is not counted as upgraded.</translation>
    </message>
    <message>
        <source>MsgRunNotConfirmedSilent</source>
        <translation>%1 took the new firmware but did not report it back (it did not answer). It is not counted as upgraded.</translation>
    </message>
    <message>
        <source>MsgRunStrandedWithoutTarget</source>
        <translation>%1 is waiting in its bootloader and the catalogue holds no firmware for it; no module on its bus was flashed.</translation>
    </message>
    <message>
        <source>MsgRunCoreUnidentified</source>
        <translation>%1 never told its identity (EID), so it was not flashed: the flight controller that comes back could not be told from another aircraft&apos;s. Search again, so that it can tell it.</translation>
    </message>
    <message>
        <source>MsgRunLockRefused</source>
        <translation>The campaign&apos;s lock refuses the firmware file %1 would take: it is not the file the lock pins for its type. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgHistoryUnwritable</source>
        <translation>The flash history cannot be written (%1). The upgrade goes on, but what is flashed now is not on record: make the folder writable and free some space.</translation>
    </message>
    <message>
        <source>BtnRollBack</source>
        <translation>Roll back</translation>
    </message>
    <message>
        <source>BtnHistory</source>
        <translation>History</translation>
    </message>
    <message>
        <source>MsgImageFromCacheThisAircraft</source>
        <translation>No firmware file is meant for %1: it is given %2, the image its type last confirmed on this aircraft.</translation>
    </message>
    <message>
        <source>MsgImageFromCacheOtherAircraft</source>
        <translation>No firmware file is meant for %1: it is given %2, the image its type last confirmed on another aircraft.</translation>
    </message>
    <message>
        <source>MsgRunJournalUnwritable</source>
        <translation>The run journal could not be written, so %1 was not put into its bootloader: nothing was flashed. Make the settings folder writable and free some space, then upgrade again.</translation>
    </message>
    <message>
        <source>MsgRunLinkLostDevice</source>
        <translation>The link to the aircraft was lost during the upgrade of %1. It stays in its bootloader; the next run recovers it.</translation>
    </message>
    <message>
        <source>MsgRunLinkLost</source>
        <translation>The link to the aircraft was lost during the upgrade. Check the link and run the upgrade again.</translation>
    </message>
    <message>
        <source>MsgSerialPortDenied</source>
        <translation>No permission to open %1. Add yourself to the dialout group (sudo usermod -aG dialout $USER), then log out and in; `tolvane-cli --doctor` tells more.</translation>
    </message>
</context>
<context>
    <name>ZoCampaignGuard</name>
    <message>
        <source>MsgCampaignBytesChanged</source>
        <translation>Other bytes under a version already flashed: %1 is offered version %2 as SHA-256 %3, but this station flashed version %2 before as %4. The same version should be the same file: ask the maker before flashing it.</translation>
    </message>
</context>
<context>
    <name>ZoReportIntake</name>
    <message>
        <source>MsgCoreApp</source>
        <translation>Flight controller</translation>
    </message>
</context>
<context>
    <name>ZoRollback</name>
    <message>
        <source>MsgRollbackAsk</source>
        <translation>Take back what the latest run on this aircraft changed? Each device goes back to the version it ran before, with the image it confirmed then:
%1</translation>
    </message>
    <message>
        <source>MsgRollbackCoreLine</source>
        <translation>No rollback: %1 would go from %2 back to %3, across the 2.20 line, which a flight controller is never taken across. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNoEid</source>
        <translation>No rollback: the aircraft has not told its EID, so its flash history cannot be found. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNoHistory</source>
        <translation>No rollback: the flash history cannot be read (%1). Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNoImage</source>
        <translation>No rollback: the image of %1 at version %2 is not in the image cache. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNoRun</source>
        <translation>No rollback: the flash history holds no run on aircraft %1. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNotAboard</source>
        <translation>No rollback: %1, which the latest run changed, does not answer on this aircraft. Nothing was flashed.</translation>
    </message>
    <message>
        <source>MsgRollbackNothingChanged</source>
        <translation>No rollback: the latest run on aircraft %1 changed no device's version. Nothing was flashed.</translation>
    </message>
</context>
<context>
    <name>ZoTargetIntake</name>
    <message>
        <source>MsgFirmwareHeaderMismatch</source>
        <translation>The firmware file %1 (firmware id %2) holds an image for device type %3, not for what its id names. It was refused; nothing is flashed with it.</translation>
    </message>
</context>
<context>
    <name>ZoUpgradeWorkflow</name>
    <message>
        <source>MsgCoreLeftInBootloader</source>
        <translation>An earlier upgrade was cut short while it flashed %1: it waits in its bootloader, where it answers no search. Add it by hand (Add) to flash it again.</translation>
    </message>
    <message>
        <source>MsgFCSNotFoundRetryAddCancel</source>
        <translation>No flight controller found. Retry the search, add it by hand, or cancel.</translation>
    </message>
    <message>
        <source>MsgFCSNotFoundRetryCancel</source>
        <translation>No flight controller found. Check the link and power, then retry.</translation>
    </message>
    <message>
        <source>MsgHWDevNotSame</source>
        <translation>The hardware differs</translation>
    </message>
    <message>
        <source>MsgAddDevice</source>
        <translation>Added</translation>
    </message>
    <message>
        <source>MsgRealDevice</source>
        <translation>Found</translation>
    </message>
    <message>
        <source>MsgDeviceProtNotSame</source>
        <translation>The airframe type differs</translation>
    </message>
    <message>
        <source>MsgPlsCheckIsSameDev</source>
        <translation>The link dropped after the last run. Is this the same aircraft?</translation>
    </message>
    <message>
        <source>MsgAllDevUpgraded</source>
        <translation>Every device is up to date.</translation>
    </message>
    <message>
        <source>MsgPrepareUpgradeFailed</source>
        <translation>Cannot prepare the upgrade of</translation>
    </message>
    <message>
        <source>MsgUpgradeFailed</source>
        <translation>The upgrade failed. Check the link and try again.</translation>
    </message>
    <message>
        <source>MsgAllCANFoundOrManAddedDev</source>
        <translation>Every module was found, or one is already added by hand.</translation>
    </message>
    <message>
        <source>MsgManualAddGNCFailedForceAdd</source>
        <translation>The flight controller did not answer. Add it anyway</translation>
    </message>
    <message>
        <source>MsgManualAddModuleFailed</source>
        <translation>The module did not answer. Check its power and cable.</translation>
    </message>
    <message>
        <source>MsgR4DataBoardNeedUpgradeFirst</source>
        <translation>Upgrade the R4 data board first.</translation>
    </message>
    <message>
        <source>MsgNeedForceR4DataBoard</source>
        <translation>Add the R4 data board first.</translation>
    </message>
</context>
</TS>
