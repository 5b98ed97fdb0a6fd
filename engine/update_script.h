// The update script: the server's list of packages on offer, read into the
// work list of the entries that apply to this machine.
#pragma once

struct UpdEntry;

// Reads "updscript.txt" from the current (work) directory into a new work
// list stored in g_upd_config (possibly empty): 0. -1 when the script cannot
// be read, fails its message digest check or has an incomplete entry; then
// everything read is freed and the configuration has no work list.
int UpdReadScript();

// 1 when `name` passes the configured Package filter (no Package, one equal
// to it, or "Any"; without regard to case), else 0.
int UpdPackageWanted(const char* name);

// How UpdVerify combines its tests.
enum UpdVerifyMode {
  UPD_VERIFY_ALL, // every test must hold (Verify, VerifyAll)
  UPD_VERIFY_ANY, // one test must hold (VerifyAny, VerifyOne)
};

// Evaluates a Verify condition list ("Installed=True,VersionLT=6.7.5-01",
// keys negated by a leading "!") against the entry's installed facts.
// 1 when the entry stays, 0 when it is dropped.
int UpdVerify(const UpdEntry* entry, const char* conditions, UpdVerifyMode mode);

// 1 when one address of the comma-separated `wanted` equals (exactly) one of
// the comma-separated `machine` addresses that has at least 10 characters.
int UpdMacAddressMatches(const char* wanted, const char* machine);

// 1 when one integer of the comma-separated `wanted` equals `major`.
int UpdOsVersionMatches(const char* wanted, int major);
