# Types WORDS and a Tab into an interactive zsh (under zpty) that has the
# completion in DIR loaded, and writes the command line zsh then shows to
# RESULT: the completion as a user gets it.
# Usage: zsh zsh_complete.zsh DIR WORDS RESULT
zmodload zsh/zpty || exit 1
dir=$1 typed=$2 result=$3
zpty shell zsh -f -i
zpty -w shell "fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w shell "show() { print -r -- \"\$BUFFER\" >${(q)result} }; zle -N show; bindkey '^X' show; print READY"
zpty -r shell line '*READY*'
zpty -w -n shell "$typed"$'\t'
sleep 0.3
zpty -w -n shell $'\x18'
for i in {1..50}; do [[ -s $result ]] && break; sleep 0.1; done
zpty -d shell
[[ -s $result ]]
