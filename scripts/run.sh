#!/usr/bin/env bash
# The main job: one update of a machine, end to end, on a relocated system.
#
# Installs what is missing, builds the system and installs it into a
# relocated system under a temporary directory of its own. Then it publishes
# an update repository there: the demonstration package (dist/demo/tqdemo.wxs
# built with wixl), its signature made by tqupdpub with the development
# signing key (keys/dev-signing-private.pem), and an update script whose
# MessageDigest statement names its md.txt. The repository is served by
# python3 -m http.server on a free loopback port, and the update service runs
# once in the foreground (tqupdd --fg) with install type Automatic: it
# fetches the script, checks its digest, downloads and verifies the package
# and installs it. Shown at the end: the service's log, the installed product
# in the registry (tqreg) and the installer (tqmsi), and the installed files.
# The server and the temporary directory are removed on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
scripts/install-deps.sh
cmake -S . -B build -DTQ_WERROR=ON
cmake --build build -j"$(nproc)"

root=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap cleanup EXIT

# The relocated system: nothing outside $root is touched.
export HOME_TQ="$root/TQ" TQ_SYSTEM_ROOT="$root/system"
export TQ_FOLDER_PROGRAM_FILES="$root/programs" TQ_FOLDER_COMMON_APPDATA="$root/common"
export TQ_FOLDER_APPDATA="$root/appdata" TQ_FOLDER_DOCUMENTS="$root/documents"
export PROFILETQENV="$root/PROFILE.TQ"
mkdir -p "$HOME_TQ"
cmake --install build --prefix "$HOME_TQ" >/dev/null
bin="$HOME_TQ/TQUpdate/bin"

# The update repository.
repo="$root/repo"
mkdir -p "$repo/pkgs"
(cd dist/demo && wixl -o "$repo/pkgs/tqdemo-win64.msi" tqdemo.wxs)
"$bin/tqupdpub" sign --key "$src/keys/dev-signing-private.pem" "$repo/pkgs/tqdemo-win64.msi" \
  > "$repo/pkgs/tqdemo-win64.sig"
cat > "$repo/updscript.txt" <<'EOF'
MessageDigest Filename=/md.txt,Type=sha256
Update
    Name tqdemo-win64
    Desc 'TQ demonstration program'
    InstallFile /pkgs/tqdemo-win64.msi
    SignatureFile /pkgs/tqdemo-win64.sig
    Verify VersionLT=2.0.1-00
EOF
"$bin/tqupdpub" digest --type sha256 "$repo/updscript.txt" > "$repo/md.txt"

# The update server on a free loopback port (a port taken between the
# choice and the bind makes the server end: then another port is tried).
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
listening() {
  python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$1" \
    2>/dev/null
}
port=""
for _ in 1 2 3 4 5; do
  try=$(free_port)
  python3 -m http.server "$try" --bind 127.0.0.1 --directory "$repo" >"$root/http.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 50); do
    if listening "$try"; then port=$try; break; fi
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] && break
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
done
if [ -z "$port" ]; then
  echo "run.sh: the update server did not start" >&2
  exit 1
fi

# The configuration: one check at start, installing at once. MaxLoopCount 0
# ends a foreground run with install type Automatic after its first pass
# (with a pass limit above 0 that pass would first sleep the full wait).
cat > "$HOME_TQ/TQUpdate/Config/tqupd-cnf.txt" <<EOF
Protocol	http
Server	127.0.0.1:$port
Script	"/updscript.txt"
InstallType	Automatic
OnStartCheck	True
StartUpWait	0
LogLevel	9
MaxLoopCount	0
EOF

echo "--- tqupdd --fg (update server http://127.0.0.1:$port/)"
status=0
"$HOME_TQ/TQUpdate/etc/tqupdd" --fg </dev/null || status=$?
echo "exit status: $status"

echo "--- $HOME_TQ/TQUpdate/Log/tqupd-log.txt"
cat "$HOME_TQ/TQUpdate/Log/tqupd-log.txt"
echo "--- tqreg query \"HKLM\\SOFTWARE\\TQ Software\\tqdemo-win64\""
"$bin/tqreg" query 'HKLM\SOFTWARE\TQ Software\tqdemo-win64' || true
echo "--- tqmsi list"
"$bin/tqmsi" list || true
echo "--- installed files below $HOME_TQ/tqdemo"
if [ -d "$HOME_TQ/tqdemo" ]; then
  (cd "$HOME_TQ" && find tqdemo -type f | sort | xargs ls -l)
  cat "$HOME_TQ/tqdemo/README.txt"
fi
echo "--- work directory $HOME_TQ/TQUpdate/Work"
ls -l "$HOME_TQ/TQUpdate/Work"

version=$("$bin/tqreg" query 'HKLM\SOFTWARE\TQ Software\tqdemo-win64' /v Version 2>/dev/null | awk '$1 == "Version" { print $3 }')
if [ "$status" -ne 0 ] || [ "$version" != "2.0.100" ] || [ ! -f "$HOME_TQ/tqdemo/README.txt" ]; then
  echo "run.sh: the update was not installed" >&2
  exit 1
fi
echo "--- tqdemo-win64 $version installed by the update service"
