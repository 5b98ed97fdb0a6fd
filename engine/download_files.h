// The install files of the work list: every one is fetched (unless a
// verified copy is present) with its detached signature and verified.
#pragma once

// For each entry of g_upd_config's work list in order: sets local_file,
// keeps a present local file whose signature (freshly fetched) verifies,
// else fetches the install file (within MaxDownloadSize) and its signature
// and verifies it. 0 when every entry has a verified local file; -1 at the
// first entry that cannot be fetched or verified (later entries untouched,
// no "End" line). A downloaded file that fails its check is deleted. With
// script metadata accepted, an entry's package must be listed for its
// product, its download is capped at the listed length, and a present or
// downloaded file must have the listed length and SHA-256 before its
// signature is checked.
int UpdDownloadFiles();
