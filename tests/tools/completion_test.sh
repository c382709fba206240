#!/bin/sh
# The bash and zsh completions offer the tool's commands and, for each
# command, every option its --help lists, so that they cannot fall behind
# the tool; bash and zsh complete a few words as a user types them.
# Usage: completion_test.sh TOOL COMPLETIONS-DIR
set -eu
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(cd "$2" && pwd)
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

bash -c ". '$dir/compatcrypt.bash'; complete -p compatcrypt" | grep -q -- '-F _compatcrypt compatcrypt$' ||
  fail "bash does not register _compatcrypt for compatcrypt"

if ! command -v zsh >/dev/null; then
  echo "zsh not installed: its completion file was checked for options only"
  echo "completions offer every command and option"
  exit 0
fi
zsh -n "$dir/_compatcrypt" || fail "_compatcrypt does not parse"

# zsh completes as a user types: the words, a Tab, and the line it leaves,
# in a directory that holds one file, "plain". A short option's value is
# never put after an '=', which the tool would read as part of the name.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/work"
printf 'plain data\n' >"$scratch/work/plain"
here=$(cd "$(dirname "$0")" && pwd)
while IFS='|' read -r words expected; do
  rm -f "$scratch/line"
  (cd "$scratch/work" && zsh "$here/zsh_complete.zsh" "$dir" "$words" "$scratch/line") ||
    fail "zsh: no line after '$words<Tab>'"
  got=$(cat "$scratch/line")
  [ "$got" = "$expected" ] || fail "zsh: '$words<Tab>' gives '$got', not '$expected'"
done <<'TABLE'
compatcrypt enc|compatcrypt encode 
compatcrypt encode -i|compatcrypt encode -iplain 
compatcrypt encode -i plain -o|compatcrypt encode -i plain -oplain 
compatcrypt decode --inp|compatcrypt decode --input=
compatcrypt decode --input=pl|compatcrypt decode --input=plain 
compatcrypt encode --key-f|compatcrypt encode --key-file=
compatcrypt digest --ig|compatcrypt digest --ignore-missing 
TABLE

# What those lines run: -iplain -oout is the input "plain" and the output
# "out", and decoding gives the plain data back.
key=0123456789abcdeffedcba9876543210
(cd "$scratch/work" && "$tool" encode -iplain -oout --key "$key" && "$tool" decode --input=out -oback --key "$key") ||
  fail "the completed command lines fail"
cmp -s "$scratch/work/plain" "$scratch/work/back" || fail "the completed command lines do not round-trip"
[ ! -e "$scratch/work/=out" ] || fail "a file named '=out' was created"
echo "completions offer every command and option, and zsh completes values as the tool reads them"
