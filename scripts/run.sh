#!/usr/bin/env bash
# Installs what is missing, builds the system, installs it into a relocated
# system under a temporary directory, and runs the update service there on
# the default configuration (dist/default/tqupd-cnf.txt): the service is
# installed and started through the service manager, asked for a check with
# tqupdreq, then stopped and removed. Its log is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DTQ_WERROR=ON
cmake --build build -j"$(nproc)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME_TQ="$root/TQ" TQ_SYSTEM_ROOT="$root/system"
export TQ_FOLDER_PROGRAM_FILES="$root/programs" TQ_FOLDER_COMMON_APPDATA="$root/common"
export TQ_FOLDER_APPDATA="$root/appdata" TQ_FOLDER_DOCUMENTS="$root/documents"
export PROFILETQENV="$root/PROFILE.TQ"
mkdir -p "$HOME_TQ"
cmake --install build --prefix "$HOME_TQ" >/dev/null
cp dist/default/tqupd-cnf.txt "$HOME_TQ/TQUpdate/Config/tqupd-cnf.txt"

bin="$HOME_TQ/TQUpdate/bin"
"$HOME_TQ/TQUpdate/etc/tqupdd" install start
"$bin/tqsc" query TQUpdateD64
for _ in $(seq 1 50); do
  "$bin/tqupdreq" check -w 10 && break
  sleep 0.2
done
"$HOME_TQ/TQUpdate/etc/tqupdd" stop remove
echo "--- $HOME_TQ/TQUpdate/Log/tqupd-log.txt"
cat "$HOME_TQ/TQUpdate/Log/tqupd-log.txt"
