# bash completion for vexlo                                  -*- shell-script -*-
#
# Completes the command words, the options of each command, file names after
# --config and directory names after --log-path, and the IDs of the logs
# after show. For those it runs "vexlo --read-only list --all --json" under
# the configuration and log root given so far, which writes nothing; it
# never runs vexlo otherwise, as a run without --read-only rewrites the
# database below the log root.

# Completes file names (or, with -d, directory names) for the current word,
# through bash-completion's helper when it is loaded.
_vexlo_paths()
{
    # _filedir reads the word to complete from the caller's "cur".
    local cur=${COMP_WORDS[COMP_CWORD]}
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
        return
    fi
    if [[ ${1-} == -d ]]; then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
    compopt -o filenames 2>/dev/null
}

# Sets COMPREPLY to the words of $1 that start with the current word.
_vexlo_words()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

# Completes the value of option $1: a path for the global options, nothing
# for the others (filters and time expressions are free text).
_vexlo_value()
{
    case ${1-} in
        --config | --cursor-file) _vexlo_paths ;;
        --log-path) _vexlo_paths -d ;;
        --color) _vexlo_words "auto always never" ;;
        *) COMPREPLY=() ;;
    esac
}

# Sets COMPREPLY to the IDs of the logs that start with the current word,
# in numeric order (1, 2, 10), which readline keeps rather than sorting them
# as text; the arguments are the global options given so far, with their
# values.
_vexlo_ids()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local ids
    ids=$("${COMP_WORDS[0]}" --read-only "$@" list --all --json 2>/dev/null |
        sed -n 's/^{"id":\([1-9][0-9]*\),.*/\1/p' | sort -n)
    mapfile -t COMPREPLY < <(compgen -W "$ids" -- "$cur")
    compopt -o nosort 2>/dev/null
}

_vexlo()
{
    COMPREPLY=()
    local cword=$COMP_CWORD
    local -a words=("${COMP_WORDS[@]}")

    # Walk the words before the cursor the way vexlo reads its command line:
    # global options with their values first, then the command word.
    local i=1
    local -a globals=()
    while ((i < cword)); do
        case ${words[i]} in
            --config | --log-path)
                if ((i + 1 == cword)); then
                    _vexlo_value "${words[i]}"
                    return
                fi
                globals+=("${words[i]}" "${words[i + 1]}")
                ((i += 2))
                ;;
            --read-only) ((i++)) ;;
            # Nothing after --version is read.
            --version) return ;;
            *) break ;;
        esac
    done
    if ((i >= cword)); then
        _vexlo_words "list logs show browse help --config --log-path --read-only --version --help"
        return
    fi

    local command=${words[i]}
    local valued options
    local first=$((i + 1))
    case $command in
        list)
            valued="--config --log-path --filter --where --fields --cursor-file"
            options="--all --filter --json --time --where --content --follow --fields --invalid --cursor-file --config --log-path --read-only"
            ;;
        logs)
            valued="--config --log-path --since --before --until --filter --where --fields --cursor-file"
            options="--since --before --until --filter --json --time --where --content --follow --fields --invalid --cursor-file --config --log-path --read-only"
            # The count, when given, is the word right after "logs".
            if ((first < cword)) && [[ ${words[first]} != --* ]]; then
                ((first++))
            fi
            ;;
        browse)
            valued="--config --log-path --filter --where --since --before --fields --color"
            options="--all --filter --where --since --before --fields --color --config --log-path --read-only"
            ;;
        show)
            valued="--config --log-path --color"
            options="--pretty --json --color --no-pager --config --log-path --read-only"
            # The word right after "show" is always taken as the ID, even an
            # option, so only IDs are offered there.
            if ((first == cword)); then
                _vexlo_ids "${globals[@]}"
                return
            fi
            ((first++))
            ;;
        *)
            # help, -h, --help and unknown words take nothing more.
            return
            ;;
    esac

    local j=$first
    while ((j < cword)); do
        if [[ " $valued " == *" ${words[j]} "* ]]; then
            if ((j + 1 == cword)); then
                _vexlo_value "${words[j]}"
                return
            fi
            ((j += 2))
        else
            ((j++))
        fi
    done
    _vexlo_words "$options"
}

complete -F _vexlo vexlo
