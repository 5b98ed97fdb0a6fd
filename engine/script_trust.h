// The signed script metadata in an update check: fetched beside the script
// when ScriptSignature asks for it, verified against the compiled-in keys,
// its expiry and the serial accepted before, and then the measure of the
// script and of every package the check downloads.
#pragma once

#include <cstdint>

#include "fetch/script_metadata.h"

struct UpdEntry;

// The metadata's local copy in the work directory (deleted when the check
// ends).
inline constexpr const char kUpdMetadataFile[] = "updscript.sig";

// The metadata of the check in progress.
struct UpdScriptTrust {
  int active;              // 1 when metadata was accepted for this check
  UpdScriptMetadata meta;  // the accepted metadata (when active)
};

// The program's trust state for the check in progress.
extern UpdScriptTrust g_upd_script_trust;

// Applies g_upd_config's ScriptSignature to the fetched script
// (kUpdScriptFile): Off does nothing; otherwise fetches the metadata named
// beside the configured Script and accepts it only when it reads, its
// signature verifies with a compiled-in key, it has not expired, the script
// matches its length and SHA-256, and its serial is not below the stored one
// (an equal serial only with the same metadata); a higher serial is stored
// before the check goes on. Without metadata, Verify goes on with a warning
// and Require refuses. Every refusal is one level-9 line. 0 to go on, -1
// when the check must end.
int UpdScriptTrustCheck();

// Forgets the check's metadata.
void UpdScriptTrustEnd();

// With metadata accepted: the package line for the entry's local file name
// `local`, refusing (one level-9 line, -1) a file that is not listed or is
// listed for another product than the entry's Name. Sets the entry's
// UPD_ENTRY_TRUSTED bit, and UPD_ENTRY_DOWNGRADE when the line carries the
// mark. Without accepted metadata: 0 and *listed null.
int UpdScriptTrustEntry(UpdEntry* entry, const char* local, const UpdMetaPackage** listed);

// 1 when the local file has exactly the listed length and SHA-256, else 0.
int UpdScriptTrustFileMatches(const char* local, const UpdMetaPackage* listed);
