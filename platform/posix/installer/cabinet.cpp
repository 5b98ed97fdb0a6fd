// Extracting a package's files from its cabinets with libgcab. POSIX (glib)
// implementation.
//
// A cabinet is a stream of the package ("#name" in the Media table) or a
// file beside the package. Members are extracted straight to their staged
// paths (absolute paths, given to the extractor relative to "/"); libgcab
// checks every data block's checksum and the sizes are compared with the
// File table afterwards.
#include <libgcab.h>
#include <libmsi.h>
#include <sys/stat.h>

#include "platform/posix/installer/gobject_ref.h"
#include "platform/posix/installer/installer_internal.h"

namespace {

// What the member callback needs.
struct ExtractState {
  const std::map<std::string, std::string>* staged; // member -> absolute staged path
  std::map<std::string, int64_t> seen;              // member -> size in the cabinet
};

// Chooses the members to extract and where: TRUE with the extract name set
// for a member that is wanted (the first time it is met), else FALSE.
gboolean OnMember(GCabFile* file, gpointer user) {
  auto* st = static_cast<ExtractState*>(user);
  const char* name = gcab_file_get_name(file);
  auto it = st->staged->find(name ? name : "");
  if (it == st->staged->end() || st->seen.count(it->first)) return FALSE;
  st->seen[it->first] = gcab_file_get_size(file);
  gcab_file_set_extract_name(file, it->second.c_str() + 1);  // relative to "/"
  return TRUE;
}

}  // namespace

int MsiExtractMedium(const MsiPackage& pkg, size_t media, const std::map<std::string, std::string>& staged,
                     const std::map<std::string, int64_t>& sizes, std::string* why) {
  if (staged.empty()) return 0;
  MsiQuietLibraries();
  const std::string& cabinet = pkg.media[media].cabinet;
  GError* err = nullptr;
  GRef<LibmsiDatabase> db;
  GRef<LibmsiQuery> query;
  GRef<LibmsiRecord> row;
  GRef<GInputStream> owned;
  GInputStream* in = nullptr;
  if (cabinet.empty()) {
    *why = "files without a cabinet are not supported";
    return -1;
  }
  if (cabinet[0] == '#') {
    db.p = libmsi_database_new(pkg.path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &err);
    if (db.p) query.p = libmsi_query_new(db.p, "SELECT `Data` FROM `_Streams` WHERE `Name` = ?", &err);
    GRef<LibmsiRecord> param(libmsi_record_new(1));
    libmsi_record_set_string(param.p, 1, cabinet.c_str() + 1);
    if (query.p && libmsi_query_execute(query.p, param.p, &err)) row.p = libmsi_query_fetch(query.p, &err);
    if (row.p) in = libmsi_record_get_stream(row.p, 1);
    owned.p = in;
    g_clear_error(&err);
    if (!in) {
      *why = "cabinet stream " + cabinet.substr(1) + " is missing";
      return -1;
    }
  } else {
    if (!MsiPlainName(cabinet)) {
      *why = "cabinet name " + cabinet + " is unsafe";
      return -1;
    }
    std::string dir = pkg.path.substr(0, pkg.path.find_last_of('/') + 1);
    GRef<GFile> f(g_file_new_for_path((dir + cabinet).c_str()));
    in = G_INPUT_STREAM(g_file_read(f.p, nullptr, &err));
    owned.p = in;
    g_clear_error(&err);
    if (!in) {
      *why = "cabinet " + cabinet + " is missing";
      return -1;
    }
  }
  GRef<GCabCabinet> cab(gcab_cabinet_new());
  if (!gcab_cabinet_load(cab.p, in, nullptr, &err)) {
    *why = "cabinet " + cabinet + " is unreadable: " + (err ? err->message : "?");
    g_clear_error(&err);
    return -1;
  }
  ExtractState st{&staged, {}};
  GRef<GFile> base(g_file_new_for_path("/"));
  if (!gcab_cabinet_extract_simple(cab.p, base.p, OnMember, &st, nullptr, &err)) {
    *why = "cabinet " + cabinet + " cannot be extracted: " + (err ? err->message : "?");
    g_clear_error(&err);
    return -1;
  }
  for (const auto& [member, path] : staged) {
    struct stat s;
    auto want = sizes.find(member);
    if (!st.seen.count(member) || ::lstat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode) || want == sizes.end() ||
        s.st_size != want->second || st.seen[member] != want->second) {
      *why = "file " + member + " is missing from cabinet " + cabinet + " or has the wrong size";
      return -1;
    }
    // Installed files are readable by all and writable by the owner only,
    // whatever the process's creation mask gave the extractor.
    if (::chmod(path.c_str(), 0644) != 0) {
      *why = "file " + member + " cannot be made read-only for others";
      return -1;
    }
  }
  return 0;
}
