// The compiled-in signing public keys.
#include "fetch/signing_key.h"

#include "signing_key_pem.h"

const char kUpdDevelopmentKeyWarning[] =
    "Warning: the compiled-in signing key is the development key; packages signed by anyone holding it are "
    "accepted";

const char* UpdSigningPublicKey() { return kUpdSigningKeyPems[0]; }

int UpdSigningPublicKeyCount() { return kUpdSigningKeyCount; }

const char* UpdSigningPublicKeyAt(int index) {
  return index >= 0 && index < kUpdSigningKeyCount ? kUpdSigningKeyPems[index] : nullptr;
}

int UpdSigningKeyIsDevelopment() { return kUpdSigningKeyIsDevelopment; }

const char* UpdDevelopmentPublicKey() { return kUpdDevSigningKeyPem; }
