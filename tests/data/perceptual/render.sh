#!/bin/sh
# Renders page.html with headless Chromium into the pairs the perceptual
# tests compare, 320x240 each:
#   hinting-{none,full}.png  font hinting off and full (fontconfig's
#                            hintstyle), glyphs on whole pixels;
#   default.png              Chromium's defaults: device scale factor 1,
#                            glyphs placed at fractions of a pixel;
#   subpixel-off.png         glyphs on whole pixels;
#   scale-2.png              device scale factor 2 with half the window:
#                            the same 320x240 pixels;
#   clear-{none,full}.png    the hinting pair on a transparent background:
#                            edges partly transparent, blended over white.
# The tests hold the files and their odiff counts. This script says how
# they were made; on another machine (fonts, Chromium's version) it may
# give other pixels.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
page="file://$here/page.html"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
shot() {
    out=$1; shift
    chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --screenshot="$here/$out" "$@" \
        "$page${fragment:-}" >/dev/null 2>&1
}
hinting() {
    cat > "$scratch/$1.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <match target="font">
    <edit name="hinting" mode="assign"><bool>true</bool></edit>
    <edit name="hintstyle" mode="assign"><const>$1</const></edit>
    <edit name="antialias" mode="assign"><bool>true</bool></edit>
  </match>
</fontconfig>
CONF
    echo "$scratch/$1.conf"
}
FONTCONFIG_FILE=$(hinting hintnone) shot hinting-none.png --window-size=320,240 --disable-font-subpixel-positioning
FONTCONFIG_FILE=$(hinting hintfull) shot hinting-full.png --window-size=320,240 --disable-font-subpixel-positioning
shot default.png --window-size=320,240
shot subpixel-off.png --window-size=320,240 --disable-font-subpixel-positioning
shot scale-2.png --window-size=160,120 --force-device-scale-factor=2
clear="--default-background-color=00000000"
FONTCONFIG_FILE=$(hinting hintnone) fragment="#clear" shot clear-none.png --window-size=320,240 \
    --disable-font-subpixel-positioning "$clear"
FONTCONFIG_FILE=$(hinting hintfull) fragment="#clear" shot clear-full.png --window-size=320,240 \
    --disable-font-subpixel-positioning "$clear"
