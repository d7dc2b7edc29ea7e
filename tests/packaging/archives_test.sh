#!/usr/bin/env bash
# Makes the .tar.gz and the .zip with cpack, unpacks each into a clean folder and packs and runs
# an application with the tool inside: the Linux osvari-pack from the .tar.gz, osvari-pack.exe
# from the .zip under Wine (in the test's WINEPREFIX).
set -euo pipefail
cpack=$1
source "$(dirname "$0")/installed_tool_checks.sh"

started=$(date +%s%N)
quietly "$cpack" --config "$build_dir/CPackConfig.cmake" -B "$work/packages"
echo "cpack made both archives in $(( ($(date +%s%N) - started) / 1000000 )) ms"
name=osvari-onefile-$version
for archive in tar.gz zip; do
  file=$work/packages/$name.$archive
  [ -f "$file" ] || fail "cpack made no $name.$archive: $(ls "$work/packages")"
  mkdir "$work/unpacked-$archive"
  (cd "$work/unpacked-$archive" && cmake -E tar xf "$file") || fail "cannot unpack $file"
  tree=$work/unpacked-$archive/$name
  [ -f "$tree/share/osvari-onefile/osvari-launcher.exe" ] || fail "$name.$archive holds no launcher"
  [ -f "$tree/lib/cmake/OsvariOnefile/OsvariOnefileConfig.cmake" ] || fail "$name.$archive holds no CMake package"
done
pack_and_run "$work/unpacked-tar.gz/$name/bin/osvari-pack" "$work/from-tar.exe" 11
pack_and_run "$work/unpacked-zip/$name/bin/osvari-pack.exe" "$work/from-zip.exe" 12
echo "$name.tar.gz and $name.zip each packed a runnable executable"
