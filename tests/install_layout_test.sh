#!/usr/bin/env bash
# The installed layout: cmake --install into an installation base directory
# puts the programs where the service manager and the tool expect them.
set -euo pipefail
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for path in TQUpdate/etc/tqupdd TQUpdate/etc/tqmsihost TQUpdate/bin/tqmsihost TQUpdate/bin/tqsc TQUpdate/bin/tqreg TQUpdate/bin/tqupdcnf; do
  [ -x "$prefix/$path" ] || { echo "missing program: $path"; fail=1; }
done
for dir in TQUpdate/Work TQUpdate/Config TQUpdate/Log; do
  [ -d "$prefix/$dir" ] || { echo "missing directory: $dir"; fail=1; }
done
[ -f "$prefix/etc/tqsfont.def" ] || { echo "missing default font file: etc/tqsfont.def"; fail=1; }
for path in TQUpdate/xml/tqupdcnf.xml xml/common/logon.xml; do
  [ -f "$prefix/$path" ] || { echo "missing layout: $path"; fail=1; }
  grep -q "<Layout" "$prefix/$path" 2>/dev/null || { echo "not a layout: $path"; fail=1; }
done
[ -f "$prefix/lib/libtqcrypto-v2.so" ] || { echo "missing crypto module"; fail=1; }
ls "$prefix"/lib/libcrypto.so.* >/dev/null 2>&1 || { echo "missing OpenSSL library beside the module"; fail=1; }
# Both programs offer the crypto library's entry point, as the module does.
for path in TQUpdate/etc/tqupdd TQUpdate/bin/tqupdcnf lib/libtqcrypto-v2.so; do
  nm -D --defined-only "$prefix/$path" | grep -qw RVCryptoInit || { echo "RVCryptoInit not exported by $path"; fail=1; }
done
exit $fail
