#!/usr/bin/env bash
# The bash completion offers every option `tamberlin --help` names, the keys of --sort and the
# types of --types, and folders where a folder goes. bash-completion's own helpers are stood
# in for, so that only our script is tried.
# Usage: completion_check.sh <completion script> <tamberlin>
set -u
script=$1
bin=$2
failures=0

_init_completion() {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    split=false
}
_filedir() { COMPREPLY=("<folders>"); }
compopt() { :; }
complete() { :; }
# shellcheck source=/dev/null
. "$script"

# Completes the last word of "$1"; the offers, sorted, on one line.
offers() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    if [ "${COMP_WORDS[0]}" = tamberlin-cacheinfo ]; then _tamberlin_cacheinfo; else _tamberlin; fi
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

expect() {
    local got
    got=$(offers "$1")
    if [ "$got" != "$2" ]; then
        echo "FAIL: '$1' offers '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}

all=$(offers "tamberlin --")
for option in $("$bin" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    case " $all " in
        *" $option "*) ;;
        *) echo "FAIL: '$option' is in --help but not completed"; failures=$((failures + 1)) ;;
    esac
done
expect "tamberlin --list --sort " "name size time url "
expect "tamberlin --list --sort s" "size "
expect "tamberlin --list --types jpg,p" "jpg,png "
expect "tamberlin --list --types v" "videos "
expect "tamberlin --save " "<folders> "
expect "tamberlin --list --since " " "
expect "tamberlin --list " "<folders> "
expect "tamberlin --uni" "--unique "
expect "tamberlin-cacheinfo " "blockfile firefox image index simple sql webkit "
expect "tamberlin-cacheinfo w" "webkit "
expect "tamberlin-cacheinfo webkit " "<folders> "

if [ "$failures" -ne 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "completion: every option, --sort keys, --types lists and folders offered"
