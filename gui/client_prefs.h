// The client preferences: "cl-pref.txt" for all users (in RV_COMMONAPPDATA)
// and one per user (in RV_APPDATA).
//
// One record per process keeps, for every key the client programs know, a
// value from the global file and one from the user file, each with a flag
// that says whether it was set. A lookup takes the user value, else the
// global value, else the built-in default. Keys are compared without regard
// to the case of ASCII letters; unknown keys are ignored; a key given twice
// in one file keeps its last value.
//
// File syntax (runtime/text_lines.h with "#" anywhere): each logical line is
// split at blanks, tabs and line ends; the first word is the key, the rest
// of the line (without the blanks around it) the value; lines with fewer
// than two words are ignored. Text is bytes throughout.
#pragma once

// Loads the preferences once per process; later calls return the first
// result. 0, or -1 when the user file could neither be opened nor created
// (reported as "Error Creating User Preferences File: %s, errno: %d" or
// "Error Opening User Preferences File: %s, errno: %d").
//
// The global file that does not exist is written by an administrator with
// the header and the six defaults (Help, ListAddStyle, BtnReturnActivate,
// GetAnswerType, ShowConnInfo, UseWindowsThemes), whole or not at all and
// under a named mutex of the file's path, so that copies starting together
// write it once; a global file that exists is never replaced. When no
// global file can be read the six defaults are taken as global values. A
// missing user file is created with its header "#\n# TQ Client Preferences
// - <user name>\n#\n"; an existing one is never replaced.
int GUILoadClientPrefs();

// The value of `key`: the user value, else the global value, else the
// built-in default; null when none or for an unknown key. For the keys of
// the global file only (SysAddr, SysMemory) the user value is never taken.
// Valid until GUIFreeClientPrefs.
const char* GUIPrefValue(const char* key);

// The global value of `key` (the global file, or the defaults taken as
// global values), else null.
const char* GUIPrefGlobalValue(const char* key);

// The user value of `key`, else null.
const char* GUIPrefUserValue(const char* key);

// 1 when GUIPrefValue(key) is true by the boolean rule, else 0 (also when
// the key has no value).
int GUIPrefBool(const char* key);

// The boolean rule: 1 for "True", "Yes" or "On" in any case, else 0 (null
// included).
int GUIPrefIsTrue(const char* value);

// 1 unless UseWindowsThemes is set to a false value: whether the controls
// the toolkit creates keep their visual themes.
int GUIPrefUseThemes();

// Frees the record's texts. The preferences are unloaded afterwards: the
// next GUILoadClientPrefs reads the files again (tests use this as reset).
void GUIFreeClientPrefs();

// The global and the user file's paths (as the load uses them; built when
// asked). Valid until the next call of the same function.
const char* GUIClientPrefsGlobalPath();
const char* GUIClientPrefsUserPath();
