// Installation of the work list: nothing to install until the installer
// layer and the update script exist.
#include "engine/install.h"

int UpdInstall() { return 0; }
