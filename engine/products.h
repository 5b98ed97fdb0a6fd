// Installed products and downloaded packages.
#pragma once

// Deletes downloaded packages of products that are not installed from the
// work directory.
void UpdPurgePackages();
