#!/usr/bin/env bash
# The installed documentation keeps up with the tool: every command that
# `pelinor-cli --help` lists, and every option that its own --help names, has its place
# in the man page (data/man/pelinor-cli.1.in) and in the bash completion
# (data/completion/pelinor-cli), and the completion offers nothing the tool refuses.
# test_docs.sh CLI SOURCE_DIR
set -uo pipefail
cli=$1 source=$2
man=$source/data/man/pelinor-cli.1.in
completion=$source/data/completion/pelinor-cli
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# shellcheck source=/dev/null
source "$completion" || exit 1
# What the completion offers after "pelinor-cli WORDS... CUR".
complete_words() {
  COMP_WORDS=(pelinor-cli "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _pelinor_cli
  printf '%s\n' "${COMPREPLY[@]}"
}
options_of() { "$cli" "$1" --help | grep -oE -- '--[a-z][a-z0-9-]*' | grep -vx -- --help | sort -u; }
# The man page's text for one command: from its marker comment to the next one.
man_section() {
  awk -v c="$1" '/^\.\\" ---- / { inside = ($3 == c); next } inside' "$man" | sed 's/\\-/-/g'
}

commands=$("$cli" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } /^$/ { on = 0 }')
[ -n "$commands" ] || fail "no commands found in pelinor-cli --help"
offered=$(complete_words "")
for command in $commands; do
  grep -qx -- "$command" <<<"$offered" || fail "completion: command '$command' is not offered"
  section=$(man_section "$command")
  [ -n "$section" ] || fail "man page: no section for '$command'"
  grep -q "^\.B $command\$" "$man" || fail "man page: '$command' missing from the synopsis"
  options=$(options_of "$command")
  completed=$(complete_words "$command" --)
  for option in $options; do
    grep -qE -- "${option}([^a-z0-9-]|\$)" <<<"$section" || fail "man page: '$command' lacks $option"
    grep -qx -- "$option" <<<"$completed" || fail "completion: '$command' lacks $option"
  done
  for option in $completed; do
    [ "$option" = --help ] && continue
    grep -qx -- "$option" <<<"$options" || fail "completion: '$command' offers $option, which --help does not name"
  done
done
# Every attack that takes numbers (the attack table's flags with a value in --help)
# completes to nothing, not to file names.
scratch=$(mktemp -d) && touch "$scratch/picture.png"
for option in $("$cli" attack --help | awk '/^attacks:/ { on = 1; next } /^[a-z]/ { on = 0 }
    on && $1 ~ /^--/ && $2 ~ /^[A-Z]/ { print $1 }'); do
  offered=$(cd "$scratch" && complete_words attack "$option" "")
  [ -z "$offered" ] || fail "completion: attack $option offers '$offered' instead of nothing (a number)"
done
rm -rf "$scratch"
for command in $(awk '/^\.\\" ---- / && $3 != "end" { print $3 }' "$man"); do
  grep -qx -- "$command" <<<"$commands" || fail "man page: section '$command' is not a command"
done

# The picture formats: those `embed --help` reads are the ones both man pages, the desktop
# entry, the AppStream metadata and the desktop program's file filter name, and no list of
# formats in them, the README or any --help leaves one out.
read -ra formats < <("$cli" embed --help | sed -n 's/.*read by content (\([A-Za-z, ]*\)).*/\1/p' | tr -d ',')
[ "${#formats[@]}" -eq 5 ] || fail "embed --help names the formats ${formats[*]:-(none)}, not five"
page_text() { sed 's/\\f[BIRP]//g; s/^\.[A-Z]* //' "$1" | tr '\n' ' '; }
desktop_entry=$source/data/hr.pelinor.Pelinor.desktop
metainfo=$source/data/hr.pelinor.Pelinor.metainfo.xml
filters=$source/desktop/toolkit/texts.h
for format in "${formats[@]}"; do
  for page in pelinor-cli.1.in pelinor.1.in; do
    grep -qw -- "$format" <(page_text "$source/data/man/$page") || fail "man page $page does not name $format"
  done
  grep -qw -- "$format" "$metainfo" || fail "the AppStream metadata does not name $format"
  mime=$(tr 'A-Z' 'a-z' <<<"$format")
  grep -q "^MimeType=.*image/$mime;" "$desktop_entry" || fail "the desktop entry lacks image/$mime"
  extension=$(sed 's/jpeg/jpg/; s/tiff/tif/' <<<"$mime")
  grep -qF "*.$extension" "$filters" || fail "the desktop program's file filter lacks *.$extension"
done
names=$(IFS='|'; echo "${formats[*]}")
every_help=$(mktemp)
trap 'rm -f "$every_help"' EXIT
{ "$cli" --help; for command in $commands; do "$cli" "$command" --help; done; } >"$every_help"
for text in "$source/data/man/pelinor-cli.1.in" "$source/data/man/pelinor.1.in" "$metainfo" "$source/README.md" \
  "$every_help"; do
  # Lists of three names or more ("A, B and C", "(A, B, C)").
  grep -oE "($names)(, ($names))+,? (and|or) ($names)|\(($names)(, ($names))+\)" <(page_text "$text") |
    while read -r list; do
      for format in "${formats[@]}"; do
        grep -qw -- "$format" <<<"$list" || { echo "FAIL: '$list' leaves out $format" >&2; exit 1; }
      done
    done || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] || exit 1
echo "man page and completion cover $(wc -w <<<"$commands") commands and all their options;" \
  "the documents agree on the formats ${formats[*]}"
