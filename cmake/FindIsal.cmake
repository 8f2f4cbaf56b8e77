# Provides Isal::Isal and Isal_FOUND: Intel's ISA-L (Debian's libisal-dev),
# whose streamed inflate the PNG row reader uses. Debian ships it shared
# only, so the static preference of glimra_find_library finds the .so.
include(GlimraFindLibrary)
glimra_find_library(Isal HEADER isa-l/igzip_lib.h NAMES isal)
