// One update check.
#pragma once

// Runs one update check: fetches and verifies the update script, builds the
// work list, downloads and verifies the packages, then installs them or
// saves the work file. 0, or -1 (always in test mode).
int UpdCheck();
