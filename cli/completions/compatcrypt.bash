# bash completion for compatcrypt: commands, each command's options, and
# file names where an option takes a file.
_compatcrypt() {
  local cur prev command i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  command=
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      digest|encode|decode|keygen) command=${COMP_WORDS[i]}; break ;;
    esac
  done

  case $prev in
    -i|--input|-o|--output|--key-file|--password-file)
      COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --key-env|--password-env)
      COMPREPLY=($(compgen -e -- "$cur")); return ;;
    --key|--offset|-j|--jobs)
      COMPREPLY=(); return ;;
  esac

  local options
  case $command in
    '')
      COMPREPLY=($(compgen -W "digest encode decode keygen --help --version" -- "$cur")); return ;;
    digest)
      options="--offset -j --jobs -c --check --tag --quiet --status --strict -w --warn --ignore-missing --help" ;;
    encode|decode)
      options="-i --input -o --output -f --force --key --key-file --key-env --password-file --password-env
               --allow-empty-password --help" ;;
    keygen)
      options="--password-file --password-env --allow-empty-password --help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ $command == digest ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _compatcrypt compatcrypt
