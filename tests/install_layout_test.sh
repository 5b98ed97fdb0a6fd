#!/usr/bin/env bash
# The installed layout: cmake --install into an installation base directory
# puts the programs where the service manager and the tool expect them.
set -euo pipefail
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for path in TQUpdate/etc/tqupdd TQUpdate/bin/tqsc TQUpdate/bin/tqreg TQUpdate/bin/tqupdcnf; do
  [ -x "$prefix/$path" ] || { echo "missing program: $path"; fail=1; }
done
for dir in TQUpdate/Work TQUpdate/Config TQUpdate/Log; do
  [ -d "$prefix/$dir" ] || { echo "missing directory: $dir"; fail=1; }
done
[ -f "$prefix/etc/tqsfont.def" ] || { echo "missing default font file: etc/tqsfont.def"; fail=1; }
[ -f "$prefix/lib/libtqcrypto-v2.so" ] || { echo "missing crypto module"; fail=1; }
ls "$prefix"/lib/libcrypto.so.* >/dev/null 2>&1 || { echo "missing OpenSSL library beside the module"; fail=1; }
exit $fail
