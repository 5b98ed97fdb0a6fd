// Fuzzes the script metadata reader with what an update source may send as
// the metadata file: never a crash or an overrun; text the reader accepts
// is written back by the writer to the same fields and reads again; and no
// input is ever verified (nothing here can forge a compiled-in key's
// signature).
#include <cstdint>
#include <string>

#include "fetch/metadata_signature.h"
#include "fetch/script_metadata.h"

namespace {

// True when two readings agree field by field.
bool Same(const UpdScriptMetadata& a, const UpdScriptMetadata& b) {
  if (a.serial != b.serial || a.expires != b.expires || a.script_length != b.script_length ||
      a.script_sha256 != b.script_sha256 || a.signature != b.signature || a.packages.size() != b.packages.size())
    return false;
  for (size_t i = 0; i < a.packages.size(); ++i) {
    const UpdMetaPackage& p = a.packages[i];
    const UpdMetaPackage& q = b.packages[i];
    if (p.file != q.file || p.product != q.product || p.length != q.length || p.sha256 != q.sha256 ||
        p.downgrade != q.downgrade)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  UpdScriptMetadata meta;
  std::string error;
  if (UpdParseScriptMetadata(text, &meta, &error) != 0) {
    if (error.empty()) __builtin_trap();  // every refusal has its reason
    return 0;
  }
  if (meta.serial == 0 || meta.packages.size() > static_cast<size_t>(kUpdMetadataMaxPackages)) __builtin_trap();
  if (text.compare(0, meta.body.size(), meta.body) != 0) __builtin_trap();
  std::string again = UpdScriptMetadataText(UpdScriptMetadataBody(meta), meta.signature);
  UpdScriptMetadata reread;
  if (UpdParseScriptMetadata(again, &reread, &error) != 0 || !Same(meta, reread)) __builtin_trap();
  if (UpdMetadataVerify(meta.body, meta.signature) >= 0) __builtin_trap();
  return 0;
}
