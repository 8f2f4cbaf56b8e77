#!/bin/bash
# The cases the row streams were built for, measured cold: every round runs
# glimra, odiff 4.5 (its own binary, --threshold 0) and the FreeImage decode
# floor in turn (bench/paired.py), so that no glimra run finds the memory
# its previous run left warm, as no CI machine does. paired.py prints, per
# command, wall and CPU (user + system of it and its workers) medians with
# their ranges and the peak resident memory, and every command's ratios to
# glimra's, round by round: read "×glimra" of odiff as odiff over glimra.
#
#   bench/rows.sh               7 rounds (40 for pictures of 320x240 and less)
#   RUNS=9 bench/rows.sh
#   OLD=/path/to/glimra bench/rows.sh    an older build runs beside them
#
# Builds build-bench, makes the corpus and the re-encoded peer picture, and
# installs odiff (npm) where they are missing. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-7}
work=${GLIMRA_BENCH_DIR:-/tmp/glimra-bench}
build=$PWD/build-bench
peers=$PWD/../shared/peer-pictures

extra="python3-pil"
command -v npm >/dev/null || extra="$extra npm"
# shellcheck disable=SC2086
scripts/install-deps.sh $extra
node_modules=$work/node/node_modules
if [ ! -x "$node_modules/@odiff/linux-x64/odiff" ]; then
    mkdir -p "$work/node"
    npm install --prefix "$work/node" --no-audit --no-fund --silent odiff-bin@4.5.0
fi
odiff=$node_modules/@odiff/linux-x64/odiff
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_BENCH=ON \
    -DGLIMRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
glimra=$build/glimra
floor=$build/bench/glimra_decode_floor
corpus=$work/corpus
if [ ! -f "$corpus/.complete" ]; then
    rm -rf "$corpus" && mkdir -p "$corpus"
    "$build/bench/glimra_make_corpus" "$corpus"
    touch "$corpus/.complete"
fi
cypressA=$peers/www.cypress.io.png
cypressB=$peers/www.cypress.io-1.png
# The same pixels in other bytes, as another encoder writes them.
reencoded=$work/cypress-reencoded.png
[ -f "$reencoded" ] || /usr/bin/python3 -c "
import sys
from PIL import Image
Image.open(sys.argv[1]).save(sys.argv[2], compress_level=1)" "$cypressA" "$reencoded"

# case NAME ROUNDS "GLIMRA OPTIONS" A B [DIFF]
case_() {
    local name=$1 rounds=$2 options=$3 a=$4 b=$5 diff=${6:-}
    local commands=("glimra=$glimra $options $a $b ${diff:+$work/d.glimra.png}"
                    "odiff=$odiff $a $b ${diff:+$work/d.odiff.png} --threshold 0"
                    "floor=$floor $a $b")
    [ -n "${OLD:-}" ] && commands+=("old=$OLD $options $a $b ${diff:+$work/d.old.png}")
    echo "== $name"
    bench/paired.py -r "$rounds" -w 1 "${commands[@]}"
}

case_ "cypress, status only" "$runs" "" "$cypressA" "$cypressB"
case_ "cypress --json" "$runs" --json "$cypressA" "$cypressB"
case_ "cypress against its pixels re-encoded" "$runs" "" "$cypressA" "$reencoded"
case_ "cypress, PNG difference picture" "$runs" "" "$cypressA" "$cypressB" diff
case_ "8K photo PNG, same pixels" "$runs" "" "$corpus/8k_photo_a.png" "$corpus/8k_photo_same.png"
case_ "4K photo PNG --json (10 %)" "$runs" --json "$corpus/4k_photo_a.png" "$corpus/4k_photo_pct10.png"
case_ "4K screenshot PNG --json (10 %)" "$runs" --json "$corpus/4k_screen_a.png" "$corpus/4k_screen_pct10.png"
case_ "4K BMP --json (10 %)" "$runs" --json "$corpus/4k_photo_a.bmp" "$corpus/4k_photo_pct10.bmp"
case_ "4K JPEG (10 %)" "$runs" "" "$corpus/4k_photo_a.jpg" "$corpus/4k_photo_pct10.jpg"
case_ "4K JPEG --json (10 %)" "$runs" --json "$corpus/4k_photo_a.jpg" "$corpus/4k_photo_pct10.jpg"
case_ "1080p screenshot PNG (1 pixel)" "$runs" "" "$corpus/1080p_screen_a.png" "$corpus/1080p_screen_px1.png"
case_ "720p screenshot PNG (1 pixel)" "$runs" "" "$corpus/720p_screen_a.png" "$corpus/720p_screen_px1.png"
case_ "320x240 screenshot PNG (1 pixel)" "$((runs * 6))" "" "$corpus/320x240_screen_a.png" "$corpus/320x240_screen_px1.png"
case_ "64x64 PNG (1 pixel)" "$((runs * 6))" "" "$corpus/64x64_photo_a.png" "$corpus/64x64_photo_px1.png"
