#!/usr/bin/env bash
# From Linux alone: builds the Linux osvari-pack, packs the built launcher into a console
# executable with an icon, version information and a UTF-8 manifest, and checks that binutils
# read it, that it runs under Wine (in the test's WINEPREFIX), that it signs and verifies with a
# self-signed certificate, and that a second build folder gives the same bytes.
set -euo pipefail
source_dir=$1
work=$2
launcher=$3
main_library=$4
log=$work.log
rm -rf "$work" && mkdir -p "$work/data/sub"
fail() { echo "$*"; exit 1; }
quietly() { "$@" >>"$log" 2>&1 || { cat "$log"; fail "failed: $*"; }; }
: >"$log"

quietly cmake -S "$source_dir" -B "$work/host" -G Ninja -DCMAKE_BUILD_TYPE=Release
quietly cmake --build "$work/host" --target osvari-pack
pack=$work/host/bin/osvari-pack

printf 'hello\n' >"$work/data/hello.txt"
printf 'deeper\n' >"$work/data/sub/deeper.txt"
# A 16 x 16 icon of 32 bits per pixel: directory, bitmap header, pixels, mask.
{
  printf '\0\0\1\0\1\0' && printf '\x10\x10\0\0\1\0\x20\0\x68\x04\0\0\x16\0\0\0'
  printf '\x28\0\0\0\x10\0\0\0\x20\0\0\0\1\0\x20\0' && head -c 24 /dev/zero
  head -c 1024 /dev/zero | tr '\0' '\x7f' && head -c 64 /dev/zero
} >"$work/app.ico"
cat >"$work/utf8.manifest" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>
    <activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>
  </windowsSettings></application>
</assembly>
XML

pack_app() { # launcher output
  "$pack" --level 3 --launcher "$1" --console --icon "$work/app.ico" --company "Example Ltd" \
    --product "Linux Packed" --version 4.5.6 --manifest "$work/utf8.manifest" --output "$2" \
    "$main_library" "$work/data"
}
pack_app "$launcher" "$work/app.exe"

headers=$(x86_64-w64-mingw32-objdump -x "$work/app.exe" 2>&1) || { echo "$headers" | tail; fail "objdump cannot read app.exe"; }
grep -Eq 'Subsystem[[:space:]]+00000003' <<<"$headers" || fail "app.exe is not a console program"
grep -Eq 'Entry 4 0+ 0+ Security Directory' <<<"$headers" || fail "app.exe claims a signature"
# binutils' own walk of the resource tree finds the attached data (RCDATA 27), the icon and its group.
for id in 00000a 00001b 000003 00000e 000010 000018; do
  grep -q "Entry: ID: 0x$id," <<<"$headers" || fail "objdump finds no resource entry $id in app.exe"
done

run_app() { # executable -> checks its output and exit code
  set +e
  output=$(wine "$1" --list-files --exit 9 2>&1)
  code=$?
  set -e
  output=$(tr -d '\r' <<<"$output")
  [ "$code" -eq 9 ] || fail "$1 ended with $code: $output"
  grep -q '^file hello.txt 6 ' <<<"$output" || fail "$1 did not unpack hello.txt: $output"
  grep -q '^file sub\\deeper.txt 7 ' <<<"$output" || fail "$1 did not unpack sub\\deeper.txt: $output"
}
run_app "$work/app.exe"

# Looked into with the same osvari-pack: verified, listed and extracted.
quietly "$pack" --verify "$work/app.exe"
listing=$("$pack" --list "$work/app.exe") || fail "app.exe cannot be listed"
grep -q '  sub\\deeper.txt$' <<<"$listing" || fail "the listing of app.exe lacks sub\\deeper.txt: $listing"
quietly "$pack" --extract "$work/extracted" "$work/app.exe"
cmp "$work/data/sub/deeper.txt" "$work/extracted/sub/deeper.txt" || fail "extracting app.exe changed sub/deeper.txt"

quietly openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Osvari Onefile test signer"
quietly osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Linux Packed" \
  -in "$work/app.exe" -out "$work/signed.exe"
quietly osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe"
run_app "$work/signed.exe"
quietly "$pack" --verify "$work/signed.exe"

# Packing a signed executable again leaves no broken signature behind, and says so.
notes=$("$pack" --level 3 --launcher "$work/signed.exe" --output "$work/repacked.exe" "$main_library" 2>&1)
grep -q 'the launcher was signed' <<<"$notes" || fail "no note about the dropped signature: $notes"
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/repacked.exe" >>"$log" 2>&1; then
  fail "repacked.exe still verifies"
fi

# A second build folder gives the same launcher and so the same finished executable.
quietly cmake -S "$source_dir" -B "$work/windows-again" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
quietly cmake --build "$work/windows-again" --target osvari-launcher
cmp "$launcher" "$work/windows-again/bin/osvari-launcher.exe" || fail "the two build folders made different launchers"
# The output's name is part of its version information, so the second one has the same name.
mkdir "$work/again"
pack_app "$work/windows-again/bin/osvari-launcher.exe" "$work/again/app.exe"
cmp "$work/app.exe" "$work/again/app.exe" || fail "the two launchers gave different executables"
echo "packed, read, ran, signed, verified and reproduced from Linux: $(stat -c %s "$work/app.exe") bytes"
