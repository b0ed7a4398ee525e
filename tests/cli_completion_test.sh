#!/bin/bash
# The bash completion offers every command and every option that quarnel-cli's help texts name,
# and nothing they do not.  Usage: cli_completion_test.sh QUARNEL_CLI COMPLETION_SCRIPT
set -uo pipefail
cli=$1
. "$2"
failures=0

complete_words() {   # complete_words WORD... : what completing the last word offers, sorted
    COMP_WORDS=(quarnel-cli "$@")
    COMP_CWORD=$#
    _quarnel_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {   # expect WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        printf 'FAILED: %s\n  help texts: %s\n  completion: %s\n' "$1" "$(echo $2)" "$(echo $3)"
        failures=$((failures + 1))
    fi
}
options_of() {   # the options a help text lists, one per line, sorted
    sed -n 's/^  --help, --version$/--help\n--version/p; t; s/^  \(-[-a-zA-Z]*\).*/\1/p' | sort -u
}

help=$("$cli" --help)
commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/s/^  \([a-z]*\) .*/\1/p' | sort)
expect "commands" "$commands" "$(complete_words '')"
global=$(printf '%s\n' "$help" | options_of)
expect "global options" "$global" "$(complete_words -)"
for command in $commands; do
    expect "$command options" "$("$cli" "$command" --help | options_of)" "$(complete_words "$command" x -)"
done
expect "--sort values" "$(printf '%s\n' name offset packed size)" "$(complete_words list a.grf --sort '')"

echo "$(( $(echo "$commands" | wc -l) + 3 - failures )) passed, $failures failed"
[ "$failures" = 0 ]
