// RVCryptoTest: the `test` slot, a listing of the ciphers the library offers.
#include <openssl/evp.h>

#include <cctype>
#include <cstdio>

#include "crypto/crypto_lib.h"
#include "crypto/crypto_slots.h"

namespace {

// Prints one cipher name of the listing; `arg` counts the names printed.
void PrintCipherName(const EVP_CIPHER* /*cipher*/, const char* from, const char* /*to*/, void* arg) {
  if (!from || !std::islower(static_cast<unsigned char>(from[0]))) return;
  int* count = static_cast<int*>(arg);
  std::printf("-%-25s", from);
  std::fputs(++*count % 3 == 0 ? "\n" : " ", stdout);
}

}  // namespace

int RVCryptoTest(const char* text) {
  std::printf("RVCryptoTest(): %s\n", text ? text : "");
  std::printf("Cipher Types\n");
  int count = 0;
  CryptoLibUseNameTables();
  EVP_CIPHER_do_all_sorted(PrintCipherName, &count);
  std::printf("\n");
  std::fflush(stdout);
  return 0;
}
