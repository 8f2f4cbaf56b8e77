#!/bin/bash
# The cost of one comparison as a test runner makes them, one at a time:
# 1000 comparisons of a 64x64 PNG pair through glimra's Node client and its
# Python client (one glimra --serve each), odiff 4.5's own long-lived
# server (odiff-bin's Node API) and odiff's CLI, measured cold in turn,
# round by round (bench/paired.py): CPU is the client's, the server's and
# its workers'. Not part of CI.
#
#   bench/serve.sh              3 rounds
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/cold_setup.sh
. bench/cold_setup.sh
a=$corpus/64x64_photo_a.png
b=$corpus/64x64_photo_px1.png
export GLIMRA_BINARY=$glimra ODIFF_BINARY=$odiff NODE_PATH=$node_modules
python="/usr/bin/python3 -c \"import sys, glimra; g = glimra.Server(jobs=1); [g.compare('$a', '$b') for _ in range(1000)]; g.close()\""
# odiff's server is killed, not waited for: serve.js reads its CPU first
# and tells it on standard error ("server-cpu-ms"), to be added to the
# figure of its row.
bench/paired.py -r "${RUNS:-3}" -w 1 \
    "node-glimra=node bench/serve.js glimra $a $b" \
    "python-glimra=env PYTHONPATH=clients/python $python" \
    "odiff-server=node bench/serve.js odiff-server $a $b" \
    "odiff-cli=node bench/serve.js odiff-cli $a $b"
