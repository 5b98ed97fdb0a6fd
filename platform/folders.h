// Shell folders and the machine-state root of the platform layer.
//
// Each folder can be relocated by an environment variable, so that a test or
// a relocatable install never touches the host's own directories:
//   Program Files              TQ_FOLDER_PROGRAM_FILES   (default /opt)
//   common application data    TQ_FOLDER_COMMON_APPDATA  (default /var/lib)
//   per-user application data  TQ_FOLDER_APPDATA         ($XDG_DATA_HOME, else $HOME/.local/share)
//   documents                  TQ_FOLDER_DOCUMENTS       ($HOME/Documents)
// and the machine-wide state lives under TQ_SYSTEM_ROOT (default /var/lib/tq-system).
#pragma once

#include <cstddef>
#include <string>

enum PlatFolder {
  PLAT_FOLDER_PROGRAM_FILES,
  PLAT_FOLDER_COMMON_APPDATA,
  PLAT_FOLDER_APPDATA,
  PLAT_FOLDER_DOCUMENTS,
};

// Copies the folder's path (no trailing "/") into `out`; -1 when it cannot
// be determined or does not fit.
int PlatSpecialFolder(PlatFolder which, char* out, size_t size);

// The machine-state root: TQ_SYSTEM_ROOT or its default, without trailing "/".
std::string PlatSystemRoot();

// A path under the machine-state root ("registry/HKLM.reg", "objects", ...).
std::string PlatSystemPath(const char* relative);
