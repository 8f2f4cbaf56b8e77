#!/bin/sh
# Usage: check_manual_page.sh PAGE VERSION
# The manual page must render without a single complaint, from mandoc's
# linter (style notes included) and from groff with every warning on, which
# is what man(1) runs; and it must name the version being built. Exit 77
# tells CTest to count the test as skipped when neither checker is there.
set -u
page=$1
version=$2
status=0

if ! head -n 1 "$page" | grep -q "\"glimra $version\""; then
    echo "$page: .TH does not name glimra $version"
    status=1
fi

checked=no
if command -v mandoc >/dev/null 2>&1; then
    checked=yes
    complaints=$(mandoc -T lint "$page" 2>&1)
    if [ -n "$complaints" ]; then
        echo "$complaints"
        status=1
    fi
fi
if command -v groff >/dev/null 2>&1; then
    checked=yes
    complaints=$(groff -man -ww -z "$page" 2>&1)
    if [ -n "$complaints" ]; then
        echo "$complaints"
        status=1
    fi
fi

if [ "$checked" = no ]; then
    echo "neither mandoc nor groff is installed: not checked"
    exit 77
fi
exit $status
