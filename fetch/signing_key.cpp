// The compiled-in signing public key.
#include "fetch/signing_key.h"

#include "signing_key_pem.h"

const char kUpdDevelopmentKeyWarning[] =
    "Warning: the compiled-in signing key is the development key; packages signed by anyone holding it are "
    "accepted";

const char* UpdSigningPublicKey() { return kUpdSigningKeyPem; }

int UpdSigningKeyIsDevelopment() { return kUpdSigningKeyIsDevelopment; }

const char* UpdDevelopmentPublicKey() { return kUpdDevSigningKeyPem; }
