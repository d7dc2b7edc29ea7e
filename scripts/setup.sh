#!/usr/bin/env bash
# Installs every tool the project needs from Debian's packages and builds the
# Windows libraries (libzstd, GoogleTest) and the real programs the tests pack (zstd.exe,
# lua.exe with lua54.dll, puttygen.exe) from Debian's own source packages.
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
  man-db groff-base
  osslsigncode openssl
  clang-14 libclang-rt-14-dev
  xvfb xdotool imagemagick x11-utils
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
    (
      cd "$dir"
      # A mirror may lack the upstream signature that the .dsc names: apt-get then fails after
      # fetching the tarballs, and the upstream tarball alone is the source without patches.
      if ! apt-get source -q --download-only "$pkg" >fetch.log 2>&1 && ! ls ./*.orig.tar.* >/dev/null 2>&1; then
        cat fetch.log >&2
        exit 1
      fi
      if ! dpkg-source -x --skip-patches ./*.dsc src >>fetch.log 2>&1; then
        rm -rf src && mkdir src && tar -xf ./*.orig.tar.* -C src --strip-components=1
      fi
    )
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


# Real programs nobody here wrote, for the tests that pack ordinary executables: built once,
# each with the static runtime, so that they need only system DLLs (and lua.exe its lua54.dll).
programs=$deps/real-programs
mkdir -p "$programs"

# quietly LOG COMMAND...: runs the command with its output in LOG, and shows LOG if it fails.
quietly() {
  local log=$1
  shift
  "$@" >>"$log" 2>&1 || { cat "$log" >&2; return 1; }
}

# build_program_with_cmake NAME PACKAGE CMAKE_SUBFOLDER TARGET BUILT_FILE [CMAKE OPTION...]:
# builds one target of a Debian source package with its own CMake and copies the program to
# $programs/NAME, unless it is there.
build_program_with_cmake() {
  local name=$1 package=$2 subfolder=$3 target=$4 built=$5 build=$deps/build/program-$1
  shift 5
  [ -f "$programs/$name" ] && return
  local src
  src=$(fetch_source "$package")
  rm -rf "$build" && mkdir -p "$build"
  # Their configure steps talk about what they leave out: shown only when a step fails.
  quietly "$build/log" cmake -S "$src/$subfolder" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXE_LINKER_FLAGS="-static -s" "$@"
  quietly "$build/log" cmake --build "$build" --target "$target"
  cp "$build/$built" "$programs/$name.partial" && mv "$programs/$name.partial" "$programs/$name"
}

# The Zstandard command-line program, from the same source as the library.
build_program_with_cmake zstd.exe libzstd build/cmake zstd programs/zstd.exe \
  -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=ON -DZSTD_BUILD_TESTS=OFF \
  -DZSTD_LEGACY_SUPPORT=OFF

# A windowed program: PuTTY's key generator.
build_program_with_cmake puttygen.exe putty . puttygen puttygen.exe

# The Lua interpreter and its library, as Lua's own makefile builds them for mingw.
if [ ! -f "$programs/lua.exe" ] || [ ! -f "$programs/lua54.dll" ]; then
  lua_source=$(fetch_source lua5.4)
  lua_source=$lua_source/src
  lua_build=$deps/build/program-lua
  rm -rf "$lua_build" && mkdir -p "$lua_build"
  lua_library_sources=()
  for file in "$lua_source"/*.c; do
    case $(basename "$file") in lua.c | luac.c) ;; *) lua_library_sources+=("$file") ;; esac
  done
  lua_cc=(x86_64-w64-mingw32-gcc-posix -std=gnu99 -O2 -DLUA_BUILD_AS_DLL -s -static-libgcc)
  "${lua_cc[@]}" -shared -o "$lua_build/lua54.dll" "${lua_library_sources[@]}"
  "${lua_cc[@]}" -o "$lua_build/lua.exe" "$lua_source/lua.c" "$lua_build/lua54.dll"
  cp "$lua_build/lua54.dll" "$programs/lua54.dll"
  cp "$lua_build/lua.exe" "$programs/lua.exe.partial" && mv "$programs/lua.exe.partial" "$programs/lua.exe"
fi

echo "setup: tools, Windows libraries and real programs ready in $deps"
