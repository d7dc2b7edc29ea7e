#!/usr/bin/env bash
# The manual page and the bash completion against the tool itself: the page renders without a
# warning, and every option the help text names is in both; the completion completes options
# and leaves files to the shell.
set -euo pipefail
pack=$1
share_dir=$2
page=$share_dir/osvari-pack.1
completion=$share_dir/osvari-pack.bash

fail() { echo "$*"; exit 1; }

warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about $page: $warnings"
rendered=$(MANWIDTH=100 man -l "$page" 2>&1)
grep -q '^NAME' <<<"$rendered" || fail "man -l did not render $page: $rendered"

options=$("$pack" --help | grep -oE '(^|[ ,|])--?[A-Za-z][A-Za-z-]*' | sed 's/^[ ,|]//' | sort -u)
[ "$(wc -l <<<"$options")" -ge 20 ] || fail "too few options found in the help text: $options"
source "$completion"
for option in $options; do
  grep -qF -- "\\fB$(sed 's/-/\\-/g' <<<"$option")\\fR" "$page" || fail "the manual page does not describe $option"
  COMP_WORDS=(osvari-pack "$option")
  COMP_CWORD=1
  COMPREPLY=()
  _osvari_pack
  printf '%s\n' "${COMPREPLY[@]}" | grep -qxF -- "$option" || fail "the completion does not offer $option"
done

complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _osvari_pack
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
[ "$(complete_words osvari-pack --ver)" = "--verify --version " ] ||
  fail "--ver completes to: $(complete_words osvari-pack --ver)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/folder"
touch "$work/app.ico" "$work/app.exe" "$work/notes.txt"
cd "$work"
[ "$(complete_words osvari-pack --icon '')" = "app.ico folder " ] ||
  fail "--icon completes to: $(complete_words osvari-pack --icon '')"
[ "$(complete_words osvari-pack --extract '')" = "folder " ] ||
  fail "--extract completes to: $(complete_words osvari-pack --extract '')"
[ -z "$(complete_words osvari-pack --level '')" ] || fail "--level offers files"
[ "$(complete_words osvari-pack -o app-onefile.exe a)" = "app.exe app.ico " ] ||
  fail "an operand completes to: $(complete_words osvari-pack -o app-onefile.exe a)"
echo "the manual page and the completion name all $(wc -l <<<"$options") options"
