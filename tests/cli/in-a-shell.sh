#!/usr/bin/env bash
# Runs vellumcast-cli as a person's script would, in a shell, and checks exit status,
# bytes and messages: a folder exported again and again, a full device, a workbook through
# <(…), a closed pipe with SIGPIPE ignored, -q on a terminal, standard input under a
# memory limit. Arguments: the vellumcast-cli program, the sample workbooks, and
# "sanitized" when the program is built with AddressSanitizer (which a memory limit stops).
set -u
cli=$(realpath "$1") samples=$(realpath "$2") build=${3-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail()
{
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect WHAT ACTUAL EXPECTED
expect()
{
    [[ $2 == "$3" ]] || fail "$1: expected $(printf %q "$3"), got $(printf %q "$2")"
}

# A folder exported into a folder of its own, three times: the same files each time.
mkdir -p d/out && cp "$samples"/* d/
for run in 1 2 3; do
    "$cli" -q -r -o d/out d 2>err
    expect "re-run $run status" $? 0
    expect "re-run $run files" "$(ls d/out | wc -l)" "$(ls "$samples" | wc -l)"
done
# ... and into the searched folder itself: its own texts are not read back.
(cd d && "$cli" -q . && "$cli" -q .)
expect "run in place files" "$(ls d | wc -l)" "$(($(ls "$samples" | wc -l) * 2 + 1))"

# A full device: a message and status 1, for a listing and for the texts.
"$cli" -l "$samples/Sales.xlsx" >/dev/full 2>err
expect "full device status" $? 1
expect "full device message" "$(cat err)" "vellumcast-cli: standard output: No space left on device"
"$cli" --help >/dev/full 2>/dev/null
expect "full device help status" $? 1

# A workbook through <(…) is read as standard input is, named from the path.
"$cli" -o - "$samples/Sales.xlsx" >direct.txt
"$cli" -o - <(cat "$samples/Sales.xlsx") >piped.txt 2>err
expect "process substitution status" $? 0
cmp -s direct.txt piped.txt || fail "process substitution: the text differs"
"$cli" -o - - <"$samples/Sales.xlsx" >stdin.txt
cmp -s direct.txt stdin.txt || fail "standard input: the text differs"

# A closed pipe with SIGPIPE ignored: the work stops at once, without a word.
seq 1 300000 >big.csv
(
    trap '' PIPE
    "$cli" -o - -m row big.csv big.csv 2>err | head -n 1 >/dev/null
    exit "${PIPESTATUS[0]}"
)
expect "closed pipe status" $? 1
expect "closed pipe message" "$(cat err)" ""

# On a terminal: -q prints nothing at all; without it, the progress line is erased and
# only the names remain.
mkdir t
script -qec "'$cli' -q -j 1 -o t '$samples/Contacts.csv'" /dev/null >typescript
expect "quiet on a terminal" "$(tr -d '\r' <typescript)" ""
script -qec "'$cli' -j 1 -o t '$samples/Contacts.csv' >/dev/null" /dev/null >typescript
shown=$(sed -e 's/.*\x1b\[K//' typescript | tr -d '\r')
expect "progress erased on a terminal" "$shown" ""

# Standard input under a 1 GiB address-space limit: refused with a message, no abort.
if [[ $build != sanitized ]]; then
    head -c 1500M /dev/zero | (ulimit -v 1048576 && "$cli" -o - - >/dev/null 2>err)
    expect "standard input under a memory limit status" $? 1
    grep -q "^vellumcast-cli: stdin: it does not fit in memory" err || fail "memory limit message: $(cat err)"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
