#!/bin/sh
# Usage: check_layers.sh SOURCE_DIR
# Each folder of src/ includes only the folders below it: app uses run,
# run uses image and diff, image uses stream (the row readers and
# writers), never the reverse; platform and common use
# nothing of ours.
set -u
src=$1
status=0
allowed() {
    case $1 in
    common) echo "common" ;;
    platform) echo "platform" ;;
    stream) echo "stream common platform" ;;
    image) echo "image stream common platform" ;;
    diff) echo "diff image common" ;;
    run) echo "run stream image diff common platform" ;;
    app) echo "app run stream image diff common platform" ;;
    esac
}
for folder in common platform stream image diff run app; do
    for used in $(grep -rhoE '#include "[a-z]+/' "$src/$folder" | sed 's/#include "//; s#/##' | sort -u); do
        case " $(allowed "$folder") " in
        *" $used "*) ;;
        *)
            echo "src/$folder includes src/$used:"
            grep -rn "#include \"$used/" "$src/$folder"
            status=1
            ;;
        esac
    done
done
[ $status -eq 0 ] && echo "every folder includes only the folders below it"
exit $status
