#!/usr/bin/env bash
# Installs every tool the project needs from Debian's packages and builds the
# Windows libraries (libzstd, GoogleTest) from Debian's own source packages.
# Safe to run again: finished steps are skipped.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps=${OSVARI_DEPS_DIR:-$root/.deps}
mkdir -p "$deps"

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine64 wine cmake ninja-build g++ pkg-config
  libzstd-dev zstd googletest libgtest-dev dpkg-dev
  libcli11-dev
  osslsigncode openssl
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Source packages come from the same mirrors, suites and keys as the machine's own binary
# packages of this release; a separate file leaves the machine's own lists untouched.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
source_entries() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v codename="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " codename " ") && enabled != "no") {
          print "Types: deb-src"; print "URIs: " uris; print "Suites: " suites; print "Components: " components
          if (signed != "") print "Signed-By: " signed
          print ""
        }
        types = uris = suites = components = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[^ \t]/ {
        key = tolower($1); sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
        if (key == "types") types = value; else if (key == "uris") uris = value
        else if (key == "suites") suites = value; else if (key == "components") components = value
        else if (key == "signed-by") signed = value; else if (key == "enabled") enabled = tolower(value)
      }
      END { flush() }' "$file"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v codename="$codename" '
      $1 == "deb" {
        i = 2; signed = ""
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /signed-by=/) { signed = $i; sub(/.*signed-by=/, "", signed); sub(/\]$/, "", signed) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        if ($(i + 1) != codename) next
        components = ""; for (j = i + 2; j <= NF; j++) components = components (components == "" ? "" : " ") $j
        print "Types: deb-src"; print "URIs: " $i; print "Suites: " $(i + 1); print "Components: " components
        if (signed != "") print "Signed-By: " signed
        print ""
      }' "$file"
  done
}

src_list=/etc/apt/sources.list.d/osvari-deb-src.sources
need_update=0
entries=$(source_entries)
if [ -z "$entries" ]; then
  echo "setup: /etc/apt lists no binary packages for Debian '$codename', so no source packages either: add that release's archive, then run this again" >&2
  exit 1
fi
if [ "$(cat "$src_list" 2>/dev/null)" != "$entries" ]; then
  printf '%s\n' "$entries" | sudo_if_needed tee "$src_list" >/dev/null
  need_update=1
fi
if ! ls /var/lib/apt/lists/*_source_Sources* >/dev/null 2>&1; then need_update=1; fi

if [ "$need_update" -eq 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  sudo_if_needed apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

toolchain=$root/cmake/mingw-w64-x86_64.cmake

fetch_source() { # package -> prints the unpacked source directory
  local pkg=$1 dir=$deps/src/$1
  if [ ! -f "$dir/.fetched" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && apt-get source -q --download-only "$pkg" >&2 && dpkg-source -x --skip-patches ./*.dsc src >&2)
    touch "$dir/.fetched"
  fi
  echo "$dir/src"
}

# build_for_windows NAME PACKAGE CMAKE_SUBFOLDER LIBRARY [CMAKE OPTION...]: builds a Debian
# source package with its own CMake and the mingw toolchain into $deps/NAME-mingw, unless
# LIBRARY is already there.
build_for_windows() {
  local name=$1 package=$2 subfolder=$3 library=$4 prefix=$deps/$1-mingw
  shift 4
  [ -f "$prefix/lib/$library" ] && return
  local src
  src=$(fetch_source "$package")
  rm -rf "$deps/build/$name"
  cmake -S "$src/$subfolder" -B "$deps/build/$name" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >/dev/null
  cmake --build "$deps/build/$name" >/dev/null
  cmake --install "$deps/build/$name" >/dev/null
}

build_for_windows zstd libzstd build/cmake libzstd.a \
  -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
  -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
build_for_windows gtest googletest . libgtest.a -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF

echo "setup: tools and Windows libraries ready in $deps"
