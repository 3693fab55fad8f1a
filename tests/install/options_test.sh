#!/usr/bin/env bash
# The options each program's --help lists are the options its man page describes and its bash
# completion offers, and an option whose value is a file completes file names.
# Usage: options_test.sh SOURCE_DIR EMPRICER EMPRICER_DIST
set -euo pipefail
source_dir=$1
declare -A binary=([empricer]=$2 [empricer-dist]=$3)
declare -A function=([empricer]=_empricer [empricer-dist]=_empricer_dist)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The completion words for the command line "$@" (the last word the one being completed), run
# in the folder $work, where a.csv and b.svg are the only files.
complete_words() {
    (
        cd "$work"
        source "$source_dir/completions/$program"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        "${function[$program]}"
        printf '%s\n' "${COMPREPLY[@]}" | sort
    )
}

touch "$work/a.csv" "$work/b.svg"
for program in empricer empricer-dist; do
    help=$("${binary[$program]}" --help)
    # The option lines of --help: two blanks, the option, and its value's name if it takes one.
    from_help=$(sed -En 's/^  (--[a-z][a-z-]*).*/\1/p' <<< "$help" | sort)
    from_man=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$source_dir/docs/man/$program.1.in" |
        sed -n '/^\.TP/{n;p}' | sed -E 's/\\-/-/g' | grep -Eo -- '--[a-z][a-z-]*' | sort)
    from_completion=$(complete_words "$program" --)
    [ -n "$from_help" ] || fail "$program --help lists no option"
    [ "$from_help" = "$from_man" ] ||
        fail "$program: --help and the man page differ:" $'\n'"$(diff <(echo "$from_help") <(echo "$from_man"))"
    [ "$from_help" = "$from_completion" ] ||
        fail "$program: --help and the completion differ:" $'\n'"$(diff <(echo "$from_help") <(echo "$from_completion"))"

    # An option shown with a value named FILE (or FILE.svg) completes the files; one with another
    # value does not.
    while read -r option value; do
        words=$(complete_words "$program" "$option" '')
        joined=$(complete_words "$program" "$option" = '')
        if [[ $value == FILE* ]]; then
            [ "$words" = $'a.csv\nb.svg' ] || fail "$program $option completes '$words', not the files"
            [ "$joined" = "$words" ] || fail "$program $option= completes '$joined', not the files"
        else
            [[ $words != *a.csv* ]] || fail "$program $option $value completes file names"
        fi
    done < <(sed -En 's/^  (--[a-z][a-z-]*) ([A-Za-z][^ ]*).*/\1 \2/p' <<< "$help")
done
[ "$(program=empricer-dist complete_words empricer-dist --force '')" = $'a.csv\nb.svg' ] ||
    fail "empricer-dist does not complete the price file"
exit $failed
