# bash completion for osvari-pack
_osvari_pack() {
  local current previous
  current=${COMP_WORDS[COMP_CWORD]}
  previous=${COMP_WORDS[COMP_CWORD-1]}
  case $previous in
    -o|--output|--depfile|--list|--verify)
      COMPREPLY=($(compgen -f -- "$current")); return ;;
    --launcher)
      COMPREPLY=($(compgen -f -X '!*.[eE][xX][eE]' -- "$current") $(compgen -d -- "$current")); return ;;
    --icon)
      COMPREPLY=($(compgen -f -X '!*.[iI][cC][oO]' -- "$current") $(compgen -d -- "$current")); return ;;
    --manifest|--splash)
      COMPREPLY=($(compgen -f -- "$current")); return ;;
    --extract)
      COMPREPLY=($(compgen -d -- "$current")); return ;;
    --level|--threads|--company|--product|--version)
      return ;;
  esac
  if [[ $current == -* ]]; then
    COMPREPLY=($(compgen -W '--output --level --threads --launcher --attached-data-only --cache --depfile
      --quiet --list --verify --extract --help --version --console --windows --icon --company --product
      --manifest --no-error-dialog --no-progress-window --splash -o -q -h -V' -- "$current"))
    return
  fi
  COMPREPLY=($(compgen -f -- "$current"))
}
complete -o filenames -F _osvari_pack osvari-pack osvari-pack.exe
