#!/usr/bin/env bash
# Drives vellumcast-cli's bash completion as bash does at a Tab, through bash-completion,
# and checks what it offers, and that the help, the manual page beside it and the
# completion name the same options. Arguments: the folder of the vellumcast-cli program,
# the completion file, the sample workbooks. Exit status 77 (skipped) without bash-completion.
set -u
bin_dir=$(cd "$1" && pwd) completion=$2 samples=$(cd "$3" && pwd)
manual=$(cd "$(dirname "$completion")/../man" && pwd)/vellumcast-cli.1
main=/usr/share/bash-completion/bash_completion
[[ -r $main ]] || { echo "bash-completion is not installed" >&2; exit 77; }
# shellcheck source=/dev/null
source "$main"
# shellcheck source=/dev/null
source "$completion"
PATH=$bin_dir:$PATH

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$samples/Sales.xlsx" "my book.xlsx"
mkdir "out d" "out e"
failures=0

# offers EXPECTED WORD... : the words as typed, the last one being completed; EXPECTED is
# what is offered, sorted, one per line.
offers()
{
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _vellumcast_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
    [[ ${#COMPREPLY[@]} -eq 0 ]] && got=
    if [[ $got != "$expected" ]]; then
        printf 'FAIL: %s\n  expected: %q\n  offered:  %q\n' "$COMP_LINE" "$expected" "$got"
        failures=$((failures + 1))
    fi
}

# A name with a space is one word (readline quotes it, as -o filenames asks).
offers "my book.xlsx" vellumcast-cli my
offers "my book.xlsx" vellumcast-cli -q 'my\ b'
# After an opening quote, as ls completes it: the name as it is, which readline puts
# inside the quote and closes.
offers "my book.xlsx" vellumcast-cli "'my b"
offers "my book.xlsx" vellumcast-cli '"my'
offers "out d" vellumcast-cli -o "'out d"
offers "Hidden Notes" vellumcast-cli 'my\ book.xlsx' -s "'Hid"
offers $'escape\nkeep\nspace' vellumcast-cli --cell-breaks=
offers "--jsonl" vellumcast-cli --js
# A folder typed with a backslash is not escaped twice.
offers "out d" vellumcast-cli -o 'out\ d'
offers $'out d\nout e' vellumcast-cli --output 'out\ '
# Values of options written with "=".
offers $'all\ncolumn\nrow\nsheet' vellumcast-cli --mode=
offers $'comma\ncomma-space' vellumcast-cli --divider=co
offers "row" vellumcast-cli -m r
offers "raw" vellumcast-cli --values r
offers $'displayed\niso' vellumcast-cli --dates=
# The password file is any file, and no workbook: the worksheets are those of the workbook.
printf 'secret\n' >notes.txt
offers "notes.txt" vellumcast-cli --password-file no
offers "--password-file=" vellumcast-cli --pass
offers $'semicolon\nspace' vellumcast-cli --input-divider s
offers $'utf-16be\nutf-16le' vellumcast-cli --input-encoding=utf-16
offers $'--input-divider=\n--input-encoding=' vellumcast-cli --inp
# A pattern is the person's own: nothing is offered, not even files.
offers "" vellumcast-cli --include m
# A value of an option is no workbook: the worksheets are still those of the workbook.
printf 'a\n' >notes.txt
offers "Recipes" vellumcast-cli 'my\ book.xlsx' --include notes.txt -s R
offers "Recipes" vellumcast-cli 'my\ book.xlsx' --password-file notes.txt -s R
# The worksheets of the workbook already on the line.
offers $'Blank\nHidden\\ Notes\nRecipes\nSales' vellumcast-cli 'my\ book.xlsx' -s ''
offers "Recipes" vellumcast-cli -m sheet 'my\ book.xlsx' --sheet R
offers "" vellumcast-cli -s ''
# Options, and after "--" nothing but files.
offers $'--skip-blank\n--skip-empty-lines\n--skip-hidden\n--skip-hidden-columns\n--skip-hidden-rows' vellumcast-cli --skip
offers $'--fill-merged' vellumcast-cli --fi
offers $'--no-clobber\n--no-compute\n--no-quotes' vellumcast-cli --no-
offers "" vellumcast-cli -- --sk
offers "my book.xlsx" vellumcast-cli -- m

# The help, the manual page and the completion name the same options.
COMP_WORDS=(vellumcast-cli --) COMP_CWORD=1 COMP_LINE="vellumcast-cli --" COMP_POINT=17 COMPREPLY=()
_vellumcast_cli 2>/dev/null
completed=" ${COMPREPLY[*]} "
while read -r option; do
    [[ $completed == *" $option "* || $completed == *" $option= "* ]] || {
        echo "FAIL: $option is in the help but not completed"
        failures=$((failures + 1))
    }
    tr -d '\\' <"$manual" | grep -qF -- "$option" || {
        echo "FAIL: $option is in the help but not in the manual page"
        failures=$((failures + 1))
    }
done < <(vellumcast-cli --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+')

if ((failures > 0)); then
    echo "$failures completion check(s) failed"
    exit 1
fi
echo "every completion check passed"
