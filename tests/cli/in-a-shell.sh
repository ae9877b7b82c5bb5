#!/usr/bin/env bash
# Runs vellumcast-cli as a person's script would, in a shell, and checks exit status,
# bytes and messages: a folder exported again and again (text files too), the manual's
# cron example, JSON Lines read by Python, a tree mirrored, a full device, a workbook
# through <(…), a closed pipe with SIGPIPE ignored, -q on a terminal, completion after an
# opening quote in an interactive bash, standard input under a memory limit. Arguments:
# the vellumcast-cli program, the sample workbooks, the bash completion file, and
# "sanitized" when the program is built with AddressSanitizer (which a memory limit stops).
set -u
cli=$(realpath "$1") samples=$(realpath "$2") completion=${3:+$(realpath "$3")} build=${4-}
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

# The manual's cron example, its output folder not there yet: made on the first run,
# the same files on the second.
mkdir -p reports && cp "$samples"/* reports/
cron=(-q -r -m sheet --name '{book}.{ext}_{sheet}' -o reports/text reports/)
"$cli" "${cron[@]}" 2>err
expect "cron first run status" $? 0
first=$(ls reports/text | wc -l)
"$cli" "${cron[@]}" 2>err
expect "cron second run status" $? 0
expect "cron second run files" "$(ls reports/text | wc -l)" "$first"
[[ $first -gt 0 ]] || fail "cron example: no file written"

# A folder whose text files are asked for, exported into itself again and again: its own
# texts are never read back.
mkdir rerun && cp "$samples/Contacts.csv" rerun/ && printf 'a\tb\n' >rerun/notes.txt
for run in 1 2 3; do
    "$cli" -q -m sheet -e csv -e txt -o rerun rerun 2>err
    expect "text re-run $run status" $? 0
    expect "text re-run $run files" "$(ls rerun | tr '\n' ' ')" "Contacts.csv Contacts_Contacts.txt notes.txt notes_notes.txt "
done

# JSON Lines, typed, read back line by line by Python's json: an array per row, an object
# per worksheet.
if command -v python3 >/dev/null; then
    "$cli" --jsonl --values raw -o - "$samples/Sales.xlsx" >lines.jsonl 2>err
    expect "jsonl status" $? 0
    summary=$(python3 -c '
import json, sys
kinds = []
for line in open(sys.argv[1], encoding="utf-8"):
    value = json.loads(line)
    kinds.append("sheet" if isinstance(value, dict) else "row")
    if isinstance(value, list) and any(isinstance(cell, (int, float)) and not isinstance(cell, bool) for cell in value):
        kinds[-1] = "numbers"
print(kinds[0], kinds.count("sheet"), "numbers" in kinds)
' lines.jsonl 2>&1)
    expect "jsonl read by python" "$summary" "sheet 4 True"
fi

# A tree mirrored into the output folder, folders made inside it.
mkdir -p tree/a/sub && cp "$samples/Contacts.csv" tree/a/ && cp "$samples/Contacts.csv" tree/a/sub/
"$cli" -q -r --name '{dir}/{book}' -o mirrored tree 2>err
expect "mirrored tree status" $? 0
expect "mirrored tree" "$(cd mirrored && find . -type f | sort | tr '\n' ' ')" "./a/Contacts.txt ./a/sub/Contacts.txt "

# A full device: a message and status 1, for a listing and for the texts.
"$cli" -l "$samples/Sales.xlsx" >/dev/full 2>err
expect "full device status" $? 1
expect "full device message" "$(cat err)" "vellumcast-cli: standard output: No space left on device"
"$cli" --help >/dev/full 2>/dev/null
expect "full device help status" $? 1

# A workbook through <(…) is read as standard input is, and named stdin as - is.
"$cli" -o - "$samples/Sales.xlsx" >direct.txt
"$cli" -o - <(cat "$samples/Sales.xlsx") >piped.txt 2>err
expect "process substitution status" $? 0
cmp -s direct.txt piped.txt || fail "process substitution: the text differs"
mkdir named
"$cli" -m sheet -s 1 -o named <(cat "$samples/Sales.xlsx") >/dev/null 2>err
expect "process substitution name" "$(ls named)" "stdin_Sales.txt"
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

# Completion after an opening quote, in an interactive bash as a person types: the name
# is completed inside the quote and the quote closed. The line is then printed word by word.
if [[ -n $completion && -r /usr/share/bash-completion/bash_completion ]]; then
    mkdir -p px && cp "$samples/Sales.xlsx" "px/with space.xlsx"
    cat >rc.sh <<RC
source /usr/share/bash-completion/bash_completion
source $(printf '%q' "$completion")
PATH=$(printf '%q' "$(dirname "$cli")"):\$PATH
PS1='$ '
RC
    { sleep 1; printf "vellumcast-cli 'px/wi\t"; sleep 1; printf '\001printf "<%%s>" \n'; sleep 1; printf 'exit\n'; } |
        timeout 30 script -qc "bash --rcfile rc.sh -i" /dev/null >typescript 2>&1
    grep -q '<vellumcast-cli><px/with space.xlsx>' <(tr -d '\r' <typescript) ||
        fail "completion after a quote: $(tr -d '\r' <typescript | cat -v | tail -n 3)"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
