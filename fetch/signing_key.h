// The public keys that verify install-file signatures and script metadata,
// compiled into the program (the build's TQ_SIGNING_PUBLIC_KEY list).
#pragma once

// PEM text of the first key of the list (SubjectPublicKeyInfo, "-----BEGIN
// PUBLIC KEY-----"), without a final line break.
const char* UpdSigningPublicKey();

// Number of compiled-in keys (at least 1).
int UpdSigningPublicKeyCount();

// PEM text of the index-th compiled-in key (0 <= index < count), without a
// final line break; null for any other index.
const char* UpdSigningPublicKeyAt(int index);

// 1 when one of the compiled-in keys is the development key of the source
// tree, whose private half is public.
int UpdSigningKeyIsDevelopment();

// PEM text of the development public key of the source tree (compiled in
// or not), without a final line break.
const char* UpdDevelopmentPublicKey();

// The warning a build with the development key gives at every start and in
// its help text.
extern const char kUpdDevelopmentKeyWarning[];
