#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a tiny C agent outside the source
# tree against it twice: with pkg-config and as a CMake project with find_package. Each
# agent then sends one heartbeat to the installed ss-controller and must see it answered.
# Usage: consumer_test.sh <build directory> <source directory>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
controller_pid=""
cleanup() {
  [ -n "$controller_pid" ] && kill "$controller_pid" 2>/dev/null && wait "$controller_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name sensor-services.pc)")
libdir=$(dirname "$pcdir")

"$prefix/bin/ss-controller" --listen 127.0.0.1:0 >"$work/controller.log" 2>&1 &
controller_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/controller.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "consumer: ss-controller did not start"; cat "$work/controller.log"; exit 1; }

cat >"$work/group.xml" <<XML
<?xml version='1.0' encoding='UTF-8' standalone='no'?>
<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Consumer' version='1' schema-version='1.0.0'>
    <controller-list>
        <controller-info name='installed' host-name='127.0.0.1' port='$port'/>
    </controller-list>
</policy>
XML
: >"$work/agent.properties"

run_agent() {  # <program> <how it was built>
  # The agent lives outside the prefix: the loader finds the library through the path.
  if LD_LIBRARY_PATH=$libdir "$1" "$work/agent.properties" "$work/group.xml"; then
    echo "consumer: $2: heartbeat answered"
  else
    echo "consumer: $2: FAILED"
    cat "$work/controller.log"
    exit 1
  fi
}

cc -o "$work/agent-pkg-config" "$source/tests/install/consumer/agent.c" \
  $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs sensor-services)
run_agent "$work/agent-pkg-config" "pkg-config"

cmake -S "$source/tests/install/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
run_agent "$work/cmake-build/consumer-agent" "find_package"
