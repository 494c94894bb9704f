#!/usr/bin/env bash
# The reference and the programs agree on their options: every option a
# program's --help prints is in that program's options table in
# docs/reference.md, and that table names no option the --help leaves out.
#
#   reference_options_check.sh REFERENCE.md NAME=PROGRAM...
#
# From --help, the options are those of its usage block (from "usage:" to the
# first blank line) and the leading words of its option lines (lines that
# start with two blanks and a dash, up to the next run of two blanks: the rest
# is description, which may name another program's options, as may the
# deeper-indented lines that continue it). From the reference, they are those
# in the first cell of each row of the first table under the heading
# "## NAME options" (the tables after it are messages, not options).
set -uo pipefail
reference=$1
shift

# Option words on standard input, one a line, sorted and unique. A dash counts
# only at the start of a word: "brisk-sim" and "0-based" hold none.
option_words() {
    grep -oE '(^|[^A-Za-z0-9_-])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[^-]*//' | sort -u
}

help_options() {
    awk '
        /^usage:/ { usage = 1 }
        usage && /^[[:space:]]*$/ { usage = 0 }
        usage { print; next }
        /^  -/ { sub(/^  /, ""); sub(/  .*/, ""); print }
    ' | option_words
}

reference_options() { # NAME
    awk -v heading="## $1 options" '
        $0 == heading { inside = 1; next }
        inside && /^## / { exit }
        inside && /^\|/ {
            table = 1
            split($0, cells, "|")
            if (cells[2] !~ /^[ :-]+$/) print cells[2]
            next
        }
        table { exit }
    ' "$reference" | option_words
}

failed=0
for pair in "$@"; do
    name=${pair%%=*}
    program=${pair#*=}
    help=$("$program" --help) || { echo "FAIL: $name --help exited $?"; failed=1; continue; }
    from_help=$(help_options <<<"$help")
    from_reference=$(reference_options "$name")
    # Guards against a check that passes on nothing: a help or a section that
    # the parsing above no longer finds.
    if [ "$(wc -l <<<"$from_help")" -lt 3 ]; then
        echo "FAIL: $name --help: found only these options: $(echo $from_help)"
        failed=1
    fi
    if [ -z "$from_reference" ]; then
        echo "FAIL: $reference has no options table under \"## $name options\""
        failed=1
        continue
    fi
    missing=$(comm -23 <(echo "$from_help") <(echo "$from_reference"))
    extra=$(comm -13 <(echo "$from_help") <(echo "$from_reference"))
    if [ -n "$missing" ]; then
        echo "FAIL: $name --help prints options $reference does not list: $(echo $missing)"
        failed=1
    fi
    if [ -n "$extra" ]; then
        echo "FAIL: $reference lists options $name --help does not print: $(echo $extra)"
        failed=1
    fi
    [ -z "$missing$extra" ] && echo "ok: $name: $(echo $from_help)"
done
exit "$failed"
