// Start-up of the crypto library interface: bound once the crypto library
// is part of the build.
#include "service/crypto_startup.h"

void UpdCryptoStartup() {}
