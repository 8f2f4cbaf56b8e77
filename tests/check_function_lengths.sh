#!/bin/sh
# Usage: check_function_lengths.sh SOURCE_DIR [LIMIT]
# Lists every function in SOURCE_DIR longer than LIMIT lines (80 unless
# given), from Universal Ctags' start and end lines, and fails when there
# is one: a reader should see a function whole. Exit 77 tells CTest to
# count the test as skipped where Universal Ctags is missing.
set -u
dir=$1
limit=${2:-80}
if ! ctags --version 2>/dev/null | grep -q "Universal Ctags"; then
    echo "Universal Ctags is not installed"
    exit 77
fi
long=$(ctags --fields=+neK --kinds-C++=f -o - -R "$dir" | awk -F '\t' -v limit="$limit" '
    {
        start = 0; end = 0
        for (i = 4; i <= NF; i++) {
            if ($i ~ /^line:/) start = substr($i, 6)
            if ($i ~ /^end:/) end = substr($i, 5)
        }
        if (end - start + 1 > limit) printf "%s:%s: %s is %d lines\n", $2, start, $1, end - start + 1
    }')
if [ -n "$long" ]; then
    echo "$long"
    echo "functions over $limit lines"
    exit 1
fi
echo "no function over $limit lines"
