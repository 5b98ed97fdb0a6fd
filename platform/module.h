// Separately built modules (shared libraries) loaded at run time.
//
// The small surface the runtime needs to bind a module by file name: load it,
// find an exported symbol, free it. Failures leave a Windows error code in the
// thread's last error: 126 the module file is missing, 5 access denied,
// 193 the file is not a loadable module, 127 the symbol is not exported.
#pragma once

struct PlatModule;

// Loads the module at `path` with all its symbols bound; a module already
// loaded is shared. Null with the last error on failure.
PlatModule* PlatModuleLoad(const char* path);

// Address of the exported symbol `name`, or null with the last error 127.
void* PlatModuleSymbol(PlatModule* module, const char* name);

// Releases one load of the module (null is ignored); its code may be unmapped
// when no other load holds it.
void PlatModuleFree(PlatModule* module);
