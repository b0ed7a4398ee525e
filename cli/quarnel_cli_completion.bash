# Bash completion for quarnel-cli: commands, each command's options and their fixed values, files.
# Installed as share/bash-completion/completions/quarnel-cli; needs nothing from bash-completion.
_quarnel_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="create list extract add merge delete rename repack check diff"
    local global="--korean --ansi-codepage --hex --quiet --help --version"
    COMPREPLY=()
    case $prev in
        --sort) COMPREPLY=($(compgen -W "name packed size offset" -- "$cur")); return ;;
        --level) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
        -C) mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
        -o | --patch) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --filter | --ansi-codepage) return ;;
    esac
    # The command is the first word that is neither an option nor an option's value.
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --sort | --level | -C | -o | --patch | --filter | --ansi-codepage) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done
    local options=""
    case $command in
        "") if [[ $cur != -* ]]; then
                COMPREPLY=($(compgen -W "$commands" -- "$cur"))
                return
            fi ;;
        create) options="--force" ;;
        list) options="--filter --sort --reverse --json" ;;
        extract) options="-C --flat -o" ;;
        add) options="--level --json" ;;
        merge | delete | rename | repack) options="--level" ;;
        diff) options="--filter --json --patch --level --force" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
    else
        # Archives, directories and files; entry names are not completed.
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2> /dev/null
    fi
}
complete -F _quarnel_cli quarnel-cli
