# The ground shared by the cold benchmarks (rows.sh, perceptual.sh), sourced
# from the repository's root: builds build-bench, makes the corpus and the
# re-encoded peer picture, and installs odiff 4.5 (npm) where they are
# missing; then `case_` runs one case, glimra, odiff and the FreeImage
# decode floor in turn each round (bench/paired.py), with OLD beside them.
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
# The tool as the Makefile builds it: with a static ISA-L.
scripts/build-isal.sh "$build/deps"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMRA_BUILD_BENCH=ON \
    -DGLIMRA_BUILD_TESTS=OFF -DCMAKE_PREFIX_PATH="$build/deps/prefix" >/dev/null
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

# case_ NAME ROUNDS "GLIMRA OPTIONS" "ODIFF OPTIONS" A B [DIFF]
case_() {
    local name=$1 rounds=$2 options=$3 odiffOptions=$4 a=$5 b=$6 diff=${7:-}
    local commands=("glimra=$glimra $options $a $b ${diff:+$work/d.glimra.png}"
                    "odiff=$odiff $a $b ${diff:+$work/d.odiff.png} $odiffOptions"
                    "floor=$floor $a $b")
    [ -n "${OLD:-}" ] && commands+=("old=$OLD $options $a $b ${diff:+$work/d.old.png}")
    echo "== $name"
    bench/paired.py -r "$rounds" -w 1 "${commands[@]}"
}

