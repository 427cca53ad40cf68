#!/usr/bin/env bash
# Builds the Debian package of a build directory with CPack, unpacks it into a scratch root
# with dpkg -x and checks what it holds and what it depends on.
# Usage: package_test.sh <build directory> [directory for the package (default: a scratch one)]
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=${2:-$work/out}
mkdir -p "$out"
(cd "$out" && cpack --config "$build/CPackConfig.cmake" -G DEB >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(find "$out" -maxdepth 1 -name 'sensor-services_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package: no package was built"; exit 1; }

root=$work/root
dpkg -x "$deb" "$root"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
lib=usr/lib/$multiarch
expected=(
  usr/bin/ss-agent
  usr/bin/ss-controller
  usr/include/zel/platform_posix.h
  usr/include/zel/platform_services.h
  usr/include/zel/sensor_services.h
  usr/include/zel/session_config.h
  usr/include/zel/status_codes.h
  "$lib/libzelSensorSvcs3.so"
  "$lib/libzelSensorSvcs3.so.3"
  "$lib/libzelSensorSvcs3.so.3.0.0"
  "$lib/libzelSessionConfigSvcs3.so"
  "$lib/libzelSessionConfigSvcs3.so.3"
  "$lib/libzelSessionConfigSvcs3.so.3.0.0"
  "$lib/libzel_platform_posix.a"
  "$lib/pkgconfig/sensor-services.pc"
  "$lib/cmake/SensorServices/SensorServicesConfig.cmake"
  "$lib/cmake/SensorServices/SensorServicesConfigVersion.cmake"
  "$lib/cmake/SensorServices/SensorServicesTargets.cmake"
  usr/share/sensor-services/examples/group_settings.xml
  usr/share/sensor-services/examples/local.properties
)
failed=0
for file in "${expected[@]}"; do
  [ -e "$root/$file" ] || { echo "package: missing /$file"; failed=1; }
done
# Nothing beyond the expected files and the export file of the build type.
unexpected=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' |
  grep -v -x -F "$(printf '%s\n' "${expected[@]}")" |
  grep -v "^$lib/cmake/SensorServices/SensorServicesTargets-[a-z]*\.cmake$" || true)
[ -z "$unexpected" ] || { echo "package: unexpected files:"; echo "$unexpected"; failed=1; }
[ "$(readlink "$root/$lib/libzelSensorSvcs3.so.3")" = libzelSensorSvcs3.so.3.0.0 ] ||
  { echo "package: libzelSensorSvcs3.so.3 does not point at libzelSensorSvcs3.so.3.0.0"; failed=1; }

depends=$(dpkg-deb -f "$deb" Depends)
for runtime in libxerces-c3.2 libcurl4; do
  case "$depends" in *"$runtime"*) ;; *) echo "package: no dependency on $runtime ($depends)"; failed=1 ;; esac
done
[ "$failed" -eq 0 ] || exit 1
echo "package: $(basename "$deb") holds ${#expected[@]} files; depends on $depends"
