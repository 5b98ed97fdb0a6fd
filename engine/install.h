// Installation of the work list through the installer.
#pragma once

// Installs the configuration's work list from the work directory. 0 or -1.
int UpdInstall();
