// Reading installer packages with libmsi. POSIX (glib) implementation.
#include <libmsi.h>
#include <sys/stat.h>

#include <mutex>

#include "platform/posix/installer/gobject_ref.h"
#include "platform/posix/installer/installer_internal.h"

namespace {

// Integer fields that are null read as this.
constexpr int32_t kNullInteger = static_cast<int32_t>(0x80000000u);

// A text field; "" when null.
std::string Text(LibmsiRecord* r, unsigned field) {
  if (libmsi_record_is_null(r, field)) return std::string();
  gchar* s = libmsi_record_get_string(r, field);
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

// An integer field; kNullInteger when null.
int32_t Int(LibmsiRecord* r, unsigned field) {
  if (libmsi_record_is_null(r, field)) return kNullInteger;
  return libmsi_record_get_int(r, field);
}

// Runs a query and calls `row` for every record. 1 when the table is
// missing, 0 after the rows, -1 on a read failure.
template <typename Fn>
int Rows(LibmsiDatabase* db, const char* table, const char* sql, Fn row) {
  GError* err = nullptr;
  gboolean persistent = libmsi_database_is_table_persistent(db, table, &err);
  if (err) {
    g_clear_error(&err);
    return 1;  // no such table
  }
  if (!persistent) return 1;
  GRef<LibmsiQuery> q(libmsi_query_new(db, sql, &err));
  if (!q.p || !libmsi_query_execute(q.p, nullptr, &err)) {
    g_clear_error(&err);
    return -1;
  }
  while (true) {
    GRef<LibmsiRecord> r(libmsi_query_fetch(q.p, &err));
    if (!r.p) break;
    row(r.p);
  }
  bool failed = err != nullptr;
  g_clear_error(&err);
  libmsi_query_close(q.p, nullptr);
  return failed ? -1 : 0;
}

// A log handler that drops the message.
void Silent(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

void MsiQuietLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The package and cabinet libraries complain on stderr about damaged
    // input; the installer reports through its results only.
    const GLogLevelFlags levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                                               G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO |
                                                               G_LOG_LEVEL_DEBUG);
    for (const char* domain : {static_cast<const char*>(nullptr), "libgsf:msole", "libgsf", "Libmsi", "libmsi",
                               "GCab", "gcab", "GLib", "GLib-GIO", "GLib-GObject"}) {
      g_log_set_handler(domain, levels, Silent, nullptr);
    }
  });
}

int MsiReadPackage(const std::string& path, bool all_tables, MsiPackage* pkg) {
  MsiQuietLibraries();
  *pkg = MsiPackage{};
  pkg->path = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  GError* err = nullptr;
  GRef<LibmsiDatabase> db(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &err));
  g_clear_error(&err);
  if (!db.p) return -1;
  int rc = Rows(db.p, "Property", "SELECT `Property`, `Value` FROM `Property`",
                [&](LibmsiRecord* r) { pkg->properties[Text(r, 1)] = Text(r, 2); });
  if (rc != 0) return -1;  // a package without its Property table is none
  if (!all_tables) return 0;
  int bad = 0;
  bad |= Rows(db.p, "Directory", "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
              [&](LibmsiRecord* r) { pkg->directories.push_back({Text(r, 1), Text(r, 2), Text(r, 3)}); }) < 0;
  bad |= Rows(db.p, "Component", "SELECT `Component`, `Directory_` FROM `Component`",
              [&](LibmsiRecord* r) { pkg->components.push_back({Text(r, 1), Text(r, 2)}); }) < 0;
  bad |= Rows(db.p, "File", "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Sequence` FROM `File`",
              [&](LibmsiRecord* r) {
                pkg->files.push_back({Text(r, 1), Text(r, 2), Text(r, 3), Int(r, 4), Int(r, 5)});
              }) < 0;
  bad |= Rows(db.p, "Media", "SELECT `DiskId`, `LastSequence`, `Cabinet` FROM `Media` ORDER BY `LastSequence`",
              [&](LibmsiRecord* r) { pkg->media.push_back({Int(r, 1), Int(r, 2), Text(r, 3)}); }) < 0;
  bad |= Rows(db.p, "Registry", "SELECT `Registry`, `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry`",
              [&](LibmsiRecord* r) {
                pkg->registry.push_back({Text(r, 1), Int(r, 2), Text(r, 3), Text(r, 4),
                                         static_cast<bool>(libmsi_record_is_null(r, 4)), Text(r, 5),
                                         static_cast<bool>(libmsi_record_is_null(r, 5)), Text(r, 6)});
              }) < 0;
  bad |= Rows(db.p, "ServiceControl", "SELECT `ServiceControl`, `Name`, `Event`, `Wait`, `Component_` FROM `ServiceControl`",
              [&](LibmsiRecord* r) {
                pkg->services.push_back({Text(r, 1), Text(r, 2), Int(r, 3), Int(r, 4), Text(r, 5)});
              }) < 0;
  return bad ? -1 : 0;
}
