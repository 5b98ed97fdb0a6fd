// The message digest check of the update script: the script fetched as
// "updscript.txt" is used only when its digest matches the one published
// beside it on the server.
#pragma once

// Local names in the current (work) directory.
inline constexpr const char kUpdScriptFile[] = "updscript.txt"; // the fetched update script
inline constexpr const char kUpdDigestFile[] = "md.txt";        // the fetched digest file

// Checks the script against the digest file named in a MessageDigest value
// (see UpdParseDigestStatement): 0 when verified, -1 otherwise. A key
// without a value logs "Missing arg for MessageDigest option: %s" (level 8);
// without a file name or with an unknown Type, "No Message Digest Specified
// in: %s" (level 9, the configured Script) and nothing is fetched.
int UpdMessageDigest(const char* value);

// Fetches `digest_file` to "md.txt" and compares the Base64 digest of type
// `digest_type` (RV_DIGEST_*) of "updscript.txt" with the start of md.txt's
// first line. 0 when equal; -1 otherwise, logged.
int UpdVerifyDigest(const char* digest_file, int digest_type);
