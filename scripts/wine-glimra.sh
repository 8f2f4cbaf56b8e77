#!/bin/sh
# Starts build-mingw/glimra.exe under wine with the arguments given: the
# launcher through which the end-to-end tests run the Windows program
# (GLIMRA_TEST_LAUNCHER, the windows step of scripts/ci.sh).
exec wine "$(dirname "$0")/../build-mingw/glimra.exe" "$@"
