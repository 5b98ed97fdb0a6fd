// The value of the update script's MessageDigest statement: which digest
// file to fetch and which digest to compute.
#pragma once

#include <string>

// Items the value is split into: the tokenizer's room of 30 entries holds
// at most 29.
constexpr int kUpdDigestItems = 30;

// What a MessageDigest value asks for.
struct UpdDigestChoice {
  std::string file_name;   // Filename value (the last one wins); empty = none given
  int type;                // digest type (RV_DIGEST_*); SHA-1 without a Type; 0 = a Type naming no known digest
  std::string missing_key; // the key left without a value at the end, or empty
};

// The digest type (RV_DIGEST_*) of a Type value ("sha512", "sha256",
// "sha1", "md5", "ripemd160", any case), or 0 for anything else.
int UpdDigestTypeByName(const char* name);

// Parses a MessageDigest value: split at every "," and "=" into at most 29
// items, taken as key/value pairs with keys in any case; a key without a
// value ends the walk (named in missing_key). Unknown keys are ignored. Pure:
// logs nothing.
void UpdParseDigestStatement(const char* value, UpdDigestChoice* choice);
