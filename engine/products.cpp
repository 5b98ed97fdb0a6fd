// Purging downloaded packages: no packages are downloaded yet.
#include "engine/products.h"

void UpdPurgePackages() {}
