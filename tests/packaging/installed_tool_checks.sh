# Sourced by the tests of installed trees: packs and runs an application with an installed
# osvari-pack. Takes the sourcing test's arguments: its own first one, then the build folder, a
# work folder (made anew), the version and the main library (the hosted_app fixture).
build_dir=$2
work=$3
version=$4
main_library=$5
log=$work.log
rm -rf "$work" && mkdir -p "$work"
: >"$log"

fail() { echo "$*"; cat "$log"; exit 1; }
quietly() { "$@" >>"$log" 2>&1 || fail "failed: $*"; }
windows_path() { winepath -w "$1" 2>/dev/null; }
mkdir -p "$work/data"
printf 'hello\n' >"$work/data/hello.txt"

# Packs the main library and data with the osvari-pack at $1 (under Wine for the .exe) into $2,
# without --launcher, and runs it: it must list its file and end with the code $3.
pack_and_run() {
  local tool=$1 exe=$2 code=$3 output ended
  if [[ $tool == *.exe ]]; then
    # The data folder as a Linux user types it: on the current drive, /tmp/... is a path too.
    quietly wine "$tool" -q --level 3 --console -o "$(windows_path "$exe")" "$(windows_path "$main_library")" \
      "$work/data"
  else
    quietly "$tool" -q --level 3 --console -o "$exe" "$main_library" "$work/data"
    [ -x "$exe" ] || fail "$tool wrote $exe without the executable bit"
  fi
  set +e
  output=$(wine "$exe" --list-files --exit "$code" 2>&1)
  ended=$?
  set -e
  [ "$ended" -eq "$code" ] || fail "$exe (packed by $tool) ended with $ended: $output"
  grep -q '^file hello.txt 6 ' <<<"$(tr -d '\r' <<<"$output")" || fail "$exe did not unpack hello.txt: $output"
}
