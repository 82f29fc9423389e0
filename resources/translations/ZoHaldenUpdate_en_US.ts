<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ZoHaldenOfferForm</name>
    <message>
        <source>LabOfferTitle</source>
        <translation>Version %1 is available</translation>
    </message>
    <message>
        <source>LabOfferInstalled</source>
        <translation>Installed: %1</translation>
    </message>
    <message>
        <source>LabOfferRequired</source>
        <translation>This release is marked as required.</translation>
    </message>
    <message>
        <source>LabOfferPackageManaged</source>
        <translation>This copy was installed by the system's package manager, which alone updates it. Install the new version the same way, for example through the system's software updates.</translation>
    </message>
    <message>
        <source>LabOfferReadOnly</source>
        <translation>You cannot write to this copy's folder (%1), so it cannot update itself. Ask whoever installed it, or install the new version yourself.</translation>
    </message>
    <message>
        <source>LabOfferNotes</source>
        <translation>Release notes</translation>
    </message>
    <message>
        <source>LabOfferAddress</source>
        <translation>Where to get it</translation>
    </message>
    <message>
        <source>BtnCopyAddress</source>
        <translation>Copy address</translation>
    </message>
    <message>
        <source>BtnAddressCopied</source>
        <translation>Copied</translation>
    </message>
    <message>
        <source>BtnClose</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ZoHaldenUpdateForm</name>
    <message>
        <source>LabSoftwareUpdate</source>
        <translation>Software update online</translation>
    </message>
    <message>
        <source>BtnStartUpdate</source>
        <translation>Start Update</translation>
    </message>
    <message>
        <source>BtnStopUpdate</source>
        <translation>Stop Update</translation>
    </message>
    <message>
        <source>LabHaldenVersionTip</source>
        <translation>Software can be upgraded to</translation>
    </message>
    <message>
        <source>LabHaldenIsUpdating</source>
        <translation>Software is updating to</translation>
    </message>
    <message>
        <source>MsgConfirmToUpdateRetryBecauseDownloadFailed</source>
        <translation>Update failed because download failed,whether to retry?</translation>
    </message>
    <message>
        <source>MsgGcsIsUpdatingConfirmToExit</source>
        <translation>Software is updating, please confirm to exit?</translation>
    </message>
    <message>
        <source>LabWarning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>MsgIsStartSoftwareProcess</source>
        <translation>Whether to start the software?</translation>
    </message>
    <message>
        <source>LabTip</source>
        <translation>Tip</translation>
    </message>
    <message>
        <source>MsgConfirmToUpdateRetryBecauseUnZipFailed</source>
        <translation>Update failed because unzip failed,whether to retry?</translation>
    </message>
</context>
<context>
    <name>ZoListItemBodyForm</name>
    <message>
        <source>LabUpgradeAvailable</source>
        <translation>Available</translation>
    </message>
</context>
<context>
    <name>ZoListItemHeaderForm</name>
    <message>
        <source>BtnStartUpgrade</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>BtnStopUpgrade</source>
        <translation>Stop Update</translation>
    </message>
    <message>
        <source>BtnUpgrade</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>BtnUpgradePage</source>
        <translation>Upgrade</translation>
    </message>
</context>
<context>
    <name>ZoMessageBox</name>
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
    <message>
        <source>LabYes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>LabNo</source>
        <translation>No</translation>
    </message>
</context>
<context>
    <name>ZoHttpHelper</name>
    <message>
        <source>MsgRequestTimeout</source>
        <translation>Software upgrade information request timed out</translation>
    </message>
</context>
</TS>
