# Provides Isal::Isal and Isal_FOUND: Intel's ISA-L (Debian's libisal-dev),
# whose streamed inflate the PNG row reader uses. Debian ships it shared
# only; the static preference of glimra_find_library finds the archive
# that scripts/build-isal.sh builds (the Makefile passes its prefix in
# CMAKE_PREFIX_PATH), and the .so otherwise.
include(GlimraFindLibrary)
glimra_find_library(Isal HEADER isa-l/igzip_lib.h NAMES isal)
