// The signed script metadata of an update check.
#include "engine/script_trust.h"

#include <string>

#include "engine/config.h"
#include "engine/script_serial.h"
#include "engine/work_entry.h"
#include "fetch/digest_check.h"
#include "fetch/fetch_file.h"
#include "fetch/metadata_signature.h"
#include "platform/file.h"
#include "platform/system.h"
#include "runtime/log_text.h"
#include "runtime/message.h"

UpdScriptTrust g_upd_script_trust;

namespace {

// Checks the fetched metadata text against the script, the keys, the clock
// and the stored serial. 0, or -1 after its one line.
int AcceptMetadata(const std::string& text, const char* shown) {
  UpdScriptMetadata meta;
  std::string error;
  if (UpdParseScriptMetadata(text, &meta, &error) != 0) {
    RVShown why;
    UpdMessage(9, "Script metadata refused: %s - %s", shown, RVShowText(&why, error.c_str()));
    return -1;
  }
  if (UpdMetadataVerify(meta.body, meta.signature) < 0) {
    UpdMessage(9, "Script metadata signature not valid: %s", shown);
    return -1;
  }
  if (PlatTimeNow() >= meta.expires) {
    UpdMessage(9, "Script metadata expired (freeze): %s - Expires %s", shown, UpdUtcTimeText(meta.expires).c_str());
    return -1;
  }
  UpdSha256Digest digest;
  int64_t length = 0;
  if (UpdFileSha256(kUpdScriptFile, &digest, &length) != 0 || length != meta.script_length ||
      digest != meta.script_sha256) {
    UpdMessage(9, "Script does not match its metadata: %s - length %lld, listed %lld", shown,
               static_cast<long long>(length), static_cast<long long>(meta.script_length));
    return -1;
  }
  std::string hex = UpdDigestHex(UpdSha256(text));
  UpdStoredSerial stored;
  if (UpdReadStoredSerial(&stored) != 0) {
    UpdMessage(9, "Stored script serial cannot be read: HKLM\\%s\\%s", kUpdSerialKey, kUpdSerialValue);
    return -1;
  }
  unsigned long long serial = meta.serial;
  if (stored.present && meta.serial < stored.serial) {
    UpdMessage(9, "Script metadata serial %llu below the accepted %llu (rollback): %s", serial,
               static_cast<unsigned long long>(stored.serial), shown);
    return -1;
  }
  if (stored.present && meta.serial == stored.serial && hex != stored.digest_hex) {
    UpdMessage(9, "Script metadata serial %llu accepted before with other content: %s", serial, shown);
    return -1;
  }
  if (!stored.present || meta.serial > stored.serial) {
    // Stored before anything is acted on: the next check refuses older
    // publications even when this one ends early.
    if (UpdStoreSerial(meta.serial, hex) != 0) {
      UpdMessage(9, "Script metadata serial %llu cannot be stored: %s", serial, shown);
      return -1;
    }
  }
  UpdMessage(7, "Script metadata accepted: %s - Serial %llu, Expires %s", shown, serial,
             UpdUtcTimeText(meta.expires).c_str());
  g_upd_script_trust.meta = std::move(meta);
  g_upd_script_trust.active = 1;
  return 0;
}

}  // namespace

int UpdScriptTrustCheck() {
  UpdScriptTrustEnd();
  int32_t mode = g_upd_config ? g_upd_config->script_signature : UPD_SCRIPT_SIGNATURE_OFF;
  if (mode == UPD_SCRIPT_SIGNATURE_OFF) return 0;
  std::string name = UpdScriptMetadataName(g_upd_config->script ? g_upd_config->script : "");
  RVShown shown;
  RVShowText(&shown, name.c_str());
  if (UpdFetchFileCapped(name.c_str(), kUpdMetadataFile, kUpdMetadataMaxBytes) != 0) {
    if (mode == UPD_SCRIPT_SIGNATURE_REQUIRE) {
      UpdMessage(9, "Script metadata required but not fetched: %s", shown.text);
      return -1;
    }
    UpdMessage(9, "Warning: no script metadata: %s - the script is used without it", shown.text);
    return 0;
  }
  std::string text;
  if (PlatReadFile(kUpdMetadataFile, &text) != 0) {
    UpdMessage(9, "Script metadata refused: %s - cannot be read", shown.text);
    return -1;
  }
  return AcceptMetadata(text, shown.text);
}

void UpdScriptTrustEnd() {
  g_upd_script_trust.active = 0;
  g_upd_script_trust.meta = UpdScriptMetadata();
}

int UpdScriptTrustEntry(UpdEntry* entry, const char* local, const UpdMetaPackage** listed) {
  *listed = nullptr;
  if (!g_upd_script_trust.active) return 0;
  RVShown file, name, product;
  RVShowText(&file, local);
  RVShowText(&name, entry->name);
  const UpdMetaPackage* p = UpdMetadataPackage(g_upd_script_trust.meta, local);
  if (!p) {
    UpdMessage(9, "Package not listed in the script metadata: %s", file.text);
    return -1;
  }
  if (!entry->name || p->product != entry->name) {
    UpdMessage(9, "Package listed for another product: %s - listed for %s, entry %s", file.text,
               RVShowText(&product, p->product.c_str()), name.text);
    return -1;
  }
  entry->flags |= UPD_ENTRY_TRUSTED;
  if (p->downgrade) entry->flags |= UPD_ENTRY_DOWNGRADE;
  *listed = p;
  return 0;
}

int UpdScriptTrustFileMatches(const char* local, const UpdMetaPackage* listed) {
  UpdSha256Digest digest;
  int64_t length = 0;
  if (UpdFileSha256(local, &digest, &length) != 0) return 0;
  return length == listed->length && digest == listed->sha256;
}
