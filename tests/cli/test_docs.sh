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

[ "$failures" -eq 0 ] || exit 1
echo "man page and completion cover $(wc -w <<<"$commands") commands and all their options"
