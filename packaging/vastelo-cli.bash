# bash completion for vastelo-cli                          -*- shell-script -*-
# bash-completion loads this on the first Tab after `vastelo-cli`. The commands and their options
# follow cli/cli.cpp and the commands' argument lists: an option offered here that the command
# refuses would be worse than none. The --format words and the --cost numbers are those of
# hashes/formats.h and hashes/hashes.h: tests/hashes_test.cpp fails when they part.

# The path a word on the command line names, for reading the .htpasswd it points at. Only quotes,
# backslashes and a leading ~/ are undone: evaluating the word, as bash-completion's dequote does,
# would run whatever command substitution it holds on a mere Tab.
_vastelo_cli_path()
{
    local path=$1
    if [[ $path == \'*\' ]]; then
        path=${path:1:${#path}-2}
    else
        [[ $path == \"*\" ]] && path=${path:1:${#path}-2}
        path=${path//\\\\/$'\1'}
        path=${path//\\/}
        path=${path//$'\1'/\\}
    fi
    [[ $path == \~/* ]] && path=$HOME/${path#\~/}
    printf '%s' "$path"
}

# The user names of an .htpasswd, one a line: what a server takes as the name, the bytes before a
# line's first colon; comments and lines without a colon or without a name before it name nobody.
_vastelo_cli_users()
{
    local file line
    file=$(_vastelo_cli_path "$1")
    [[ -f $file && -r $file ]] || return 0
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        [[ $line == ?*:* && $line != \#* ]] && printf '%s\n' "${line%%:*}"
    done <"$file"
}

_vastelo_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    if ((cword == 1)); then
        COMPREPLY=($(compgen -W 'build add import delete verify check --help --version' -- "$cur"))
        return
    fi

    local command=${words[1]} valued flags=""
    case $command in
        build)
            valued="-o --format --cost --rounds --encoding --auth-user-file --auth-name --wait"
            flags="--classic --replace"
            ;;
        add)
            valued="--format --cost --rounds --encoding --wait"
            flags="--generate"
            ;;
        import) valued="--format --cost --rounds --encoding --passwd-out --wait" ;;
        delete) valued="--encoding --wait" ;;
        verify) valued="--encoding --server" ;;
        check) valued="--min-cost --min-rounds" ;;
        *) return ;;
    esac

    # The value of an option: a separate word after it, or after its "=" (which -s split off).
    if [[ " $valued " == *" $prev "* ]]; then
        case $prev in
            --format) COMPREPLY=($(compgen -W 'des apr1 sha512 bcrypt' -- "$cur")) ;;
            --encoding) COMPREPLY=($(compgen -W 'utf8 sjis' -- "$cur")) ;;
            --server) COMPREPLY=($(compgen -W 'apache nginx' -- "$cur")) ;;
            --cost | --min-cost) COMPREPLY=($(compgen -W '4 5 6 7 8 9 10 11 12 13 14 15 16 17' -- "$cur")) ;;
            -o) _filedir -d ;;
            --passwd-out | --auth-user-file) _filedir ;;
            # --rounds, --min-rounds, --wait and --auth-name take a number or a name: nothing to offer.
        esac
        return
    fi
    $split && return

    # The positional arguments before the cursor, read as the command reads them: a valued
    # option written without "=" takes the next word, "--" ends the options.
    local i word options_end=false
    local -a given=()
    for ((i = 2; i < cword; i++)); do
        word=${words[i]}
        if $options_end || [[ $word == - || $word != -* ]]; then
            given+=("$word")
        elif [[ $word == -- ]]; then
            options_end=true
        elif [[ $word != *=* && " $valued " == *" $word "* ]]; then
            ((i++))
        fi
    done

    local expects=""
    case $command:${#given[@]} in
        build:0 | import:0 | import:1 | check:0 | add:0 | delete:0 | verify:0) expects=file ;;
        add:1 | verify:1 | delete:*) expects=user ;;
    esac

    if [[ $cur == -* && $options_end == false || -z $expects ]]; then
        $options_end || COMPREPLY=($(compgen -W "$valued $flags --help" -- "$cur"))
        return
    fi
    case $expects in
        file) _filedir ;;
        user)
            # delete takes several users: a name already on the line is not offered again, nor
            # the same name twice (only its first line counts, for the server as for the command).
            local name taken
            local -A seen=()
            while IFS= read -r name; do
                [[ $name == "$cur"* && -z ${seen[$name]-} ]] || continue
                seen[$name]=1
                for taken in "${given[@]:1}"; do
                    [[ $name == "$(_vastelo_cli_path "$taken")" ]] && continue 2
                done
                COMPREPLY+=("$(printf '%q' "$name")")
            done < <(_vastelo_cli_users "${given[0]}")
            ;;
    esac
} &&
    complete -F _vastelo_cli vastelo-cli

# ex: filetype=sh
