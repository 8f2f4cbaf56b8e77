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
# bench/cold_setup.sh builds and installs what is missing. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/cold_setup.sh
. bench/cold_setup.sh
exact="--threshold 0"

case_ "cypress, status only" "$runs" "" "$exact" "$cypressA" "$cypressB"
case_ "cypress --json" "$runs" --json "$exact" "$cypressA" "$cypressB"
case_ "cypress against its pixels re-encoded" "$runs" "" "$exact" "$cypressA" "$reencoded"
case_ "cypress, PNG difference picture" "$runs" "" "$exact" "$cypressA" "$cypressB" diff
case_ "8K photo PNG, same pixels" "$runs" "" "$exact" "$corpus/8k_photo_a.png" "$corpus/8k_photo_same.png"
case_ "4K photo PNG --json (10 %)" "$runs" --json "$exact" "$corpus/4k_photo_a.png" "$corpus/4k_photo_pct10.png"
case_ "4K screenshot PNG --json (10 %)" "$runs" --json "$exact" "$corpus/4k_screen_a.png" "$corpus/4k_screen_pct10.png"
case_ "4K BMP --json (10 %)" "$runs" --json "$exact" "$corpus/4k_photo_a.bmp" "$corpus/4k_photo_pct10.bmp"
case_ "4K JPEG (10 %)" "$runs" "" "$exact" "$corpus/4k_photo_a.jpg" "$corpus/4k_photo_pct10.jpg"
case_ "4K JPEG --json (10 %)" "$runs" --json "$exact" "$corpus/4k_photo_a.jpg" "$corpus/4k_photo_pct10.jpg"
case_ "1080p screenshot PNG (1 pixel)" "$runs" "" "$exact" "$corpus/1080p_screen_a.png" "$corpus/1080p_screen_px1.png"
case_ "720p screenshot PNG (1 pixel)" "$runs" "" "$exact" "$corpus/720p_screen_a.png" "$corpus/720p_screen_px1.png"
case_ "320x240 screenshot PNG (1 pixel)" "$((runs * 6))" "" "$exact" "$corpus/320x240_screen_a.png" "$corpus/320x240_screen_px1.png"
case_ "64x64 PNG (1 pixel)" "$((runs * 6))" "" "$exact" "$corpus/64x64_photo_a.png" "$corpus/64x64_photo_px1.png"
