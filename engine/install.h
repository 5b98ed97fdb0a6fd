// Installation of the work list through the installer.
#pragma once

#include <cstdint>

// Installs the skip-clear entries of the configuration's work list from the
// work directory, in list order, without any user interface: a package of
// the installed version is passed over, an older one replaces the newer
// product (removed first when its product code is known). Stops at the
// first failure, at a reboot begun by the installer, and when the
// installation stopped the service (the configuration tool is then started
// to bring it back). 0 or -1, logged as "Install End ret: %d".
int UpdInstall();

// Logs the installer result `code` of the step `what` in words: "%s Success"
// (level 0) and the other texts of the installer's codes (level 0 for the
// successful ones, 9 for failures).
void UpdInstallResult(const char* what, uint32_t code);

// 1 when an installer result counts as a successful installation (0, 1641,
// 3010, 3011), else 0.
int UpdInstallSucceeded(uint32_t code);

// For the skip-clear entries bound by accepted script metadata
// (UPD_ENTRY_TRUSTED): a package older than the installed product is
// refused unless the metadata marks it as an intended downgrade
// (UPD_ENTRY_DOWNGRADE), with "Downgrade refused: ..." (level 9). 0 when
// none is refused, else -1.
int UpdRefuseDowngrades();
