// The compiled-in signing public key.
#include "fetch/signing_key.h"

#include "signing_key_pem.h"

const char* UpdSigningPublicKey() { return kUpdSigningKeyPem; }

int UpdSigningKeyIsDevelopment() { return kUpdSigningKeyIsDevelopment; }
