#!/bin/bash
# The perceptual comparison measured cold, as bench/rows.sh measures the
# exact one: glimra with --threshold=0.1 --antialiasing against odiff 4.5
# with the same options and the FreeImage decode floor, round by round.
# Then the exact comparison, which must be no slower than before, beside
# an older build given as OLD.
#
#   bench/perceptual.sh
#   RUNS=9 OLD=/path/to/glimra bench/perceptual.sh
#
# Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/cold_setup.sh
. bench/cold_setup.sh
rendered=tests/data/perceptual
ours="--threshold=0.1 --antialiasing"
# A real 4K screenshot pair: a page of text, tables and boxes rendered by
# Chromium at 3840x2160 with font hinting off and full.
screenshots=$work/4k-rendered
if [ ! -f "$screenshots/hintfull.png" ]; then
    scripts/install-deps.sh chromium
    mkdir -p "$screenshots"
    python3 bench/screenshot_page.py >"$screenshots/page.html"
    for hinting in hintnone hintfull; do
        cat >"$screenshots/$hinting.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <match target="font"><edit name="hintstyle" mode="assign"><const>$hinting</const></edit></match>
</fontconfig>
CONF
        FONTCONFIG_FILE="$screenshots/$hinting.conf" chromium --headless=new --no-sandbox --disable-gpu \
            --hide-scrollbars --disable-font-subpixel-positioning --window-size=1920,1080 \
            --force-device-scale-factor=2 --screenshot="$screenshots/${hinting#hint}.png" \
            "file://$screenshots/page.html" >/dev/null 2>&1
    done
    mv "$screenshots/full.png" "$screenshots/hintfull.png"
fi
theirs="--threshold 0.1 --antialiasing"
old=${OLD:-}

# An older build knows nothing of the perceptual options.
OLD=
case_ "cypress, status only, perceptual" "$runs" "$ours" "$theirs" "$cypressA" "$cypressB"
case_ "cypress --json, perceptual" "$runs" "--json $ours" "$theirs" "$cypressA" "$cypressB"
case_ "cypress, highlight, perceptual" "$runs" "--highlight $ours" "$theirs" "$cypressA" "$cypressB" diff
case_ "4K screenshot rendered by Chromium --json, perceptual" "$runs" "--json $ours" "$theirs" \
    "$screenshots/none.png" "$screenshots/hintfull.png"
case_ "4K screenshot PNG --json (10 %), perceptual" "$runs" "--json $ours" "$theirs" \
    "$corpus/4k_screen_a.png" "$corpus/4k_screen_pct10.png"
case_ "4K photo PNG --json (10 %), perceptual" "$runs" "--json $ours" "$theirs" \
    "$corpus/4k_photo_a.png" "$corpus/4k_photo_pct10.png"
case_ "rendered 320x240, perceptual" "$((runs * 6))" "--json $ours" "$theirs" \
    "$rendered/hinting-none.png" "$rendered/hinting-full.png"

OLD=$old
exact="--threshold 0"
case_ "cypress --json, exact" "$runs" --json "$exact" "$cypressA" "$cypressB"
case_ "4K screenshot PNG --json (10 %), exact" "$runs" --json "$exact" \
    "$corpus/4k_screen_a.png" "$corpus/4k_screen_pct10.png"
case_ "cypress, PNG difference picture, exact" "$runs" "" "$exact" "$cypressA" "$cypressB" diff
case_ "320x240 screenshot PNG (1 pixel), exact" "$((runs * 6))" "" "$exact" \
    "$corpus/320x240_screen_a.png" "$corpus/320x240_screen_px1.png"
