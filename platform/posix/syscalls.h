// POSIX file system calls of the platform layer, routed through the fault
// injection table of platform/fault.h. Internal to platform/posix.
#pragma once

#include <sys/types.h>
#include <cstddef>

// Each wrapper behaves as the system call of the same name; an injected fault
// makes it return -1 with errno set to the injected value instead.
// plat_sys_open never follows a symbolic link as the last component (the
// layer's files are opened by fixed names); plat_sys_open_follow does, for
// a path a caller chose (the source of a copy).
int plat_sys_open(const char* path, int flags, mode_t mode);
int plat_sys_open_follow(const char* path, int flags, mode_t mode);
ssize_t plat_sys_write(int fd, const void* buf, size_t len);
int plat_sys_rename(const char* from, const char* to);
// rename that fails with EEXIST instead of replacing `to`.
int plat_sys_rename_noreplace(const char* from, const char* to);
int plat_sys_fsync(int fd);
int plat_sys_unlink(const char* path);
int plat_sys_mkdir(const char* path, mode_t mode);
int plat_sys_ftruncate(int fd, off_t len);
// copy_file_range from the current positions of both files; counted and
// failed as a write.
ssize_t plat_sys_copy_file_range(int fd_in, int fd_out, size_t len);
