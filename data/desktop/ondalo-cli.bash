# Bash completion of ondalo-cli: its commands, each command's options, the
# values those options take, and files where files go.

_ondalo_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="convert drives toc cddb rip offset play"
    local outputs="--exists --overwrite --cbr --abr --vbr --default-quality --replaygain --no-replaygain --open-folder --beep --sound -q --quiet"
    local options

    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    # offset find takes numbers only, --to included.
    if [[ ${COMP_WORDS[1]} == offset && ( $prev == --from || $prev == --to || $prev == --track ) ]]; then
        return
    fi

    case $prev in
        --to|--as)
            COMPREPLY=($(compgen -W "wav mp3 ogg wma flac opus" -- "$cur"))
            return ;;
        --exists)
            COMPREPLY=($(compgen -W "skip overwrite ask rename rename=" -- "$cur"))
            [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
            return ;;
        --lookup)
            COMPREPLY=($(compgen -W "cddb musicbrainz both" -- "$cur"))
            return ;;
        --dest)
            COMPREPLY=($(compgen -d -- "$cur"))
            compopt -o filenames 2>/dev/null
            return ;;
        --task|--save-task)
            COMPREPLY=($(compgen -f -X '!*.[oO][tT][kK]' -- "$cur") $(compgen -d -- "$cur"))
            compopt -o filenames 2>/dev/null
            return ;;
        --sound)
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames 2>/dev/null
            return ;;
        --cbr|--abr|--vbr|--jobs|--drive|--tracks|--template|--offset)
            return ;;
    esac

    case ${COMP_WORDS[1]} in
        convert)
            options="--to --as --dest --same-folder --keep-folders --recursive --no-recursive --task --save-task
                     --no-tags --delete-source --jobs $outputs" ;;
        rip)
            options="--drive --tracks --to --dest --template --jitter --lookup --cover --no-cddb --no-tags
                     --offset --verify --no-verify --log --eject $outputs" ;;
        offset)
            options="--drive --from --to --track --jitter --save" ;;
        toc|cddb)
            options="--drive" ;;
        play)
            options="-q --quiet" ;;
        *)
            options="" ;;
    esac

    if [[ ${COMP_WORDS[1]} == offset && $COMP_CWORD -eq 2 && $cur != -* ]]; then
        COMPREPLY=($(compgen -W "find" -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    elif [[ ${COMP_WORDS[1]} == convert || ${COMP_WORDS[1]} == play ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
    fi
}

complete -F _ondalo_cli ondalo-cli
