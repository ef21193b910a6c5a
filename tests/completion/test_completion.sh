#!/usr/bin/env bash
# Checks the bash completion of Updater by calling its completion function the
# way bash does (COMP_WORDS / COMP_CWORD set) and comparing the offered words.
# Needs only bash; the bash-completion package is not used.
#
# Usage: test_completion.sh [COMPLETION_FILE]
# (default: packaging/completion/Updater of this source tree)

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
completion_file=${1:-$here/../../packaging/completion/Updater}

if [[ ! -r $completion_file ]]; then
    echo "cannot read $completion_file" >&2
    exit 2
fi
# shellcheck source=/dev/null
source "$completion_file"

failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs the completion for a command line whose last word is being completed
# and prints the offered words sorted, one per line.
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _updater Updater "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    if ((${#COMPREPLY[@]} > 0)); then
        printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
    fi
}

# expect_words "description" "expected words, blank separated" -- command words...
expect_words() {
    local description=$1 expected=$2
    shift 3
    local want got words
    read -r -d '' -a words <<<"$expected"
    want=
    if ((${#words[@]} > 0)); then
        want=$(printf '%s\n' "${words[@]}" | LC_ALL=C sort)
    fi
    got=$(offered "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: $description" >&2
        echo "  command line: $*" >&2
        echo "  expected: ${want//$'\n'/ }" >&2
        echo "  offered:  ${got//$'\n'/ }" >&2
        failures=$((failures + 1))
    fi
}

# expect_lines "description" "expected lines (newline separated)" -- words...
# For file names, which may hold blanks.
expect_lines() {
    local description=$1 expected=$2
    shift 3
    local want got
    want=$(printf '%s' "$expected" | LC_ALL=C sort)
    got=$(offered "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: $description" >&2
        echo "  command line: $*" >&2
        printf '  expected:\n%s\n  offered:\n%s\n' "$want" "$got" >&2
        failures=$((failures + 1))
    fi
}

every_option='-B -L -D -G -I -U -N -C -OVERRIDE -h -H --help -i -b -d -t -f -r -s -o -e -m
    -l -k -u -X --http --https --json -a -j -w'

expect_words "every option at the start" "$every_option" -- Updater ''
expect_words "every option after a lone dash" "$every_option" -- Updater -
expect_words "long options by prefix" "--help --http --https" -- Updater --h
expect_words "--json by prefix" "--json" -- Updater --j
expect_words "-OVERRIDE by prefix" "-OVERRIDE" -- Updater -O
expect_words "options again after an argument" "$every_option" -- Updater -d 40F5849A ''
expect_words "an unknown prefix offers nothing" "" -- Updater -Q

expect_words "-t offers the transports" "USB TCP RECOVER" -- Updater -D -t ''
expect_words "-t completes by prefix" "RECOVER" -- Updater -U -t R
expect_words "-t is case-sensitive" "" -- Updater -U -t r

expect_words "-o offers the baud rates" "2400 4800 9600 19200 38400 57600 115200 230400" \
    -- Updater -N -s /dev/ttyS0 -o ''
expect_words "-m offers on and off" "1 0 true false" -- Updater -U -m ''

expect_words "-j offers some job counts" "1 2 4 8" -- Updater -U -a -j ''

for option in -b -d -r -l -u -X -w; do
    expect_words "$option takes free text: nothing offered" "" -- Updater -U "$option" ''
done
expect_words "-X offers nothing even after a prefix" "" -- Updater -X 0x

# Serial ports: exactly the /dev/tty* nodes that exist, plus USB.
shopt -s nullglob
ttys=(/dev/tty*)
shopt -u nullglob
expect_lines "-s offers the tty nodes" "$(printf '%s\n' "${ttys[@]}")" -- Updater -N -s /dev/tty
expect_words "-s offers USB for the i.MX boot ROM" "USB" -- Updater -N -s U
expect_words "-s offers no other devices" "" -- Updater -N -s /dev/null

# Files: a scratch tree with a BIRD file, another file, a name with a blank
# and a subdirectory.
mkdir -p "$scratch/builds" "$scratch/with blank"
: >"$scratch/1300.bird"
: >"$scratch/notes.txt"
: >"$scratch/my build.bird"

expect_lines "-f offers BIRD files and directories" \
    "$scratch/1300.bird
$scratch/builds
$scratch/my build.bird
$scratch/with blank" -- Updater -U -d 40F5849A -f "$scratch/"
expect_lines "-f completes a BIRD file by prefix" "$scratch/1300.bird" \
    -- Updater -C -f "$scratch/13"
expect_words "-f offers no other files" "" -- Updater -C -f "$scratch/no"
expect_lines "-k offers every file" \
    "$scratch/1300.bird
$scratch/builds
$scratch/my build.bird
$scratch/notes.txt
$scratch/with blank" -- Updater -D -k "$scratch/"
expect_lines "-i offers directories only" \
    "$scratch/builds
$scratch/with blank" -- Updater -D -i "$scratch/"

# The function is registered for the program's name.
if ! complete -p Updater 2>/dev/null | grep -q -- '-F _updater'; then
    echo "FAIL: _updater is not registered for Updater" >&2
    failures=$((failures + 1))
fi

if ((failures > 0)); then
    echo "$failures completion check(s) failed" >&2
    exit 1
fi
echo "all completion checks passed"
