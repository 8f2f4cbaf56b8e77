# Run as a script (cmake -P) at build time: writes OUTPUT, a C++ include
# that holds each file of FILES (a list, separated by '|') as a
# null-terminated char array named by NAMES (the same order). The report
# page's HTML, CSS and script stay files of their own in the source tree
# and reach the binary this way.
string(REPLACE "|" ";" files "${FILES}")
string(REPLACE "|" ";" names "${NAMES}")
set(text "// Made at build time by cmake/GlimraEmbed.cmake; do not edit.\n")
foreach(file name IN ZIP_LISTS files names)
    file(READ "${file}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
           "\\1\n" bytes "${bytes}")
    string(APPEND text "const char ${name}[] = {\n${bytes}0x00};\n")
endforeach()
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
