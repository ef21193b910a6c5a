#!/bin/sh
# Regenerates the binary BIRD seeds with birdtool: make_seeds.sh PATH/TO/birdtool
set -eu
tool=${1:?usage: make_seeds.sh BIRDTOOL}
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus/fuzz_birdfile
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seed() {
    name=$1
    shift
    printf '%s\n' "$@" >"$work/$name.txt"
    "$tool" build "$work/$name.txt" "$out/$name.bird"
}

seed full \
    'block type=0 address=0x10000000 hex=DEADBEEF' \
    'block type=1 address=0x1000 fill=0xFF size=64' \
    'info build=1234 version="1.2.3 beta" serial=0012ABCD model=ABCDEF' \
    'serial-offsets word=0x1010 descriptor=0x1020' \
    'recovery-start 0x20000400' \
    'block type=7 flags=5 hex=0102'
seed scrambled \
    'block type=1 address=0x2000 hex=00112233445566778899AABBCCDDEEFF0011' \
    'block type=1 address=0x3000 hex=0102' \
    'scramble 0x11111111 0x22222222 0x33333333 0x44444444'
seed wrong_count 'block type=1 address=0x1000 hex=01' 'count 9' 'trailing EEEEEE'
seed overlong 'block type=1 address=0x1000 hex=0102 length=4000000000'
seed short_image 'info build=1' 'block type=0 raw hex=0102' 'block type=1 address=4 hex=05'
seed short_info 'block type=4 hex=3132' 'block type=2 hex=00001000'
seed empty 'count 0'
