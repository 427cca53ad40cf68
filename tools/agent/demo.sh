#!/usr/bin/env bash
# The demo behind `./dev demo`: starts ss-controller on a free loopback port with example
# group settings, queues two schema requests and a get-agent-status request (which the agent
# has no handler for, so the library answers it as unrecognized), runs ss-agent against it
# for a few heartbeats and a ping, and stops the controller.
# Usage: demo.sh <build directory>
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
controller_bin="$build/tools/controller/ss-controller"
agent_bin="$build/tools/agent/ss-agent"
agent_id=0f8fad5b-d9cb-469f-a165-70867728950e
cml='http://schemas.zel.example/cml'

work=$(mktemp -d)
controller_pid=""
cleanup() {
  if [ -n "$controller_pid" ]; then
    kill "$controller_pid" 2>/dev/null || true
    wait "$controller_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A group settings document naming the demo controller; $1 is its version.
group_settings() {
  cat <<XML
<?xml version='1.0' encoding='UTF-8' standalone='no'?>
<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Demo Group'
        version='$1' schema-version='1.0.0'>
    <controller-list>
        <controller-info name='demo-controller' host-name='127.0.0.1' port='$port'/>
    </controller-list>
</policy>
XML
}

# The controller picks its port itself only when told 0, but the group settings it hands
# out must name the port before it starts: so a free port is chosen here, and another one
# if the controller cannot take it after all.
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 30000))
  port_in_use "$port" && continue
  group_settings 2 >"$work/served-group-settings.xml"
  mkdir -p "$work/schemas"
  "$controller_bin" --listen "127.0.0.1:$port" --group-settings "$work/served-group-settings.xml" \
    --group-settings-version 2 --schema-dir "$work/schemas" \
    > >(sed -u 's/^/controller: /') 2>&1 &
  controller_pid=$!
  for _ in $(seq 1 50); do
    port_in_use "$port" && break
    kill -0 "$controller_pid" 2>/dev/null || break
    sleep 0.1
  done
  port_in_use "$port" && break
  wait "$controller_pid" 2>/dev/null || true
  controller_pid=""
done
[ -n "$controller_pid" ] || { echo "demo: could not start ss-controller" >&2; exit 1; }

# The agent starts with version 1 of the group settings and a short retry interval.
group_settings 1 >"$work/group-settings.xml"
sed -e 's/^retryInterval = .*/retryInterval = 1000/' -e 's/^maxServerRetry = .*/maxServerRetry = 2/' \
  "$root/examples/local.properties" >"$work/agent.properties"

queue() {  # <request element>
  curl -sS -X POST -H 'Content-Type: application/x-zel-cml-data' --data-binary "$1" \
    "http://127.0.0.1:$port/admin/queue?agent=$agent_id" >/dev/null
}
queue "<set-schema-request xmlns='$cml'><schema-info name='scanner-settings' namespace='http://schemas.zel.example/demo/ScannerSettings' version='1.0'><schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example/demo/ScannerSettings' version='1.0'><element name='scanner-settings' type='string'/></schema></schema-info></set-schema-request>"
queue "<get-schema-request xmlns='$cml'><schema-info namespace='http://schemas.zel.example/demo/ScannerSettings' version='1.0'/></get-schema-request>"
queue "<get-agent-status-request xmlns='$cml'><module name='scanner'/></get-agent-status-request>"

echo "demo: ss-controller listens on 127.0.0.1:$port; starting ss-agent"
"$agent_bin" --properties "$work/agent.properties" --group-settings "$work/group-settings.xml" \
  --agent-id "$agent_id" --heartbeats 4 --interval-ms 300 --ping-after 3
sleep 0.2
echo "demo: done"
