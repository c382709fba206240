#!/bin/sh
# The bash and zsh completions offer the tool's commands and, for each
# command, every option its --help lists, so that they cannot fall behind
# the tool; bash completes a few words as a user types them.
# Usage: completion_test.sh TOOL COMPLETIONS-DIR
set -eu
tool=$1
dir=$2
fail() { echo "completion: $*"; exit 1; }

for command in digest encode decode keygen; do
  options=$("$tool" "$command" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | sed 's/^[ ,]*//' | sort -u)
  [ -n "$options" ] || fail "no options found in '$command --help'"
  for option in $options; do
    [ "$option" = --help ] || [ "$option" = -h ] && continue
    bash -c ". '$dir/compatcrypt.bash'
             COMP_WORDS=(compatcrypt $command -); COMP_CWORD=2; _compatcrypt
             printf '%s\n' \"\${COMPREPLY[@]}\"" | grep -qx -- "$option" ||
      fail "bash does not offer $option for $command"
    grep -q -- "$option" "$dir/_compatcrypt" || fail "zsh does not offer $option for $command"
  done
done

# A table of words typed so far and a word that must be offered.
while IFS='|' read -r words expected; do
  got=$(bash -c ". '$dir/compatcrypt.bash'
                 COMP_WORDS=($words); COMP_CWORD=\$((\${#COMP_WORDS[@]} - 1)); _compatcrypt
                 printf '%s\n' \"\${COMPREPLY[@]}\"")
  printf '%s\n' "$got" | grep -qx -- "$expected" || fail "'$words' does not offer $expected (got: $got)"
done <<'TABLE'
compatcrypt enc|encode
compatcrypt ke|keygen
compatcrypt decode --key-|--key-file
compatcrypt digest --ig|--ignore-missing
compatcrypt encode --password-env PA|PATH
TABLE

if command -v zsh >/dev/null; then
  zsh -n "$dir/_compatcrypt" || fail "_compatcrypt does not parse"
else
  echo "zsh not installed: its completion file was checked for options only"
fi
echo "completions offer every command and option"
