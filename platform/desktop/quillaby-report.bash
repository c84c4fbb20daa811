# bash completion for quillaby-report                      -*- shell-script -*-

_quillaby_report()
{
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        --format)
            COMPREPLY=($(compgen -W 'text json prometheus nagios' -- "$cur"))
            return
            ;;
        --output)
            _filedir
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--format= --json --output= --notify --help --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    local word
    for word in "${words[@]:1:cword-1}"; do
        [[ $word == today || $word == yesterday ]] && return
    done
    COMPREPLY=($(compgen -W 'today yesterday' -- "$cur"))
} &&
    complete -F _quillaby_report quillaby-report
