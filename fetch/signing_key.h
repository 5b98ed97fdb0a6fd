// The public key that verifies install-file signatures, compiled into the
// program (the build's TQ_SIGNING_PUBLIC_KEY).
#pragma once

// PEM text of the key (SubjectPublicKeyInfo, "-----BEGIN PUBLIC KEY-----"),
// without a final line break.
const char* UpdSigningPublicKey();

// 1 when the compiled-in key is the development key of the source tree,
// whose private half is public.
int UpdSigningKeyIsDevelopment();

// PEM text of the development public key of the source tree (compiled in
// or not), without a final line break.
const char* UpdDevelopmentPublicKey();

// The warning a build with the development key gives at every start and in
// its help text.
extern const char kUpdDevelopmentKeyWarning[];
