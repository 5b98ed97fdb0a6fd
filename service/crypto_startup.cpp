// Start-up of the crypto library interface.
#include "service/crypto_startup.h"

#include "crypto/crypto_runtime.h"

void UpdCryptoStartup() { RVCryptoInitLib(); }
