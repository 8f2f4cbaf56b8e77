# Provides Libdeflate::Libdeflate and Libdeflate_FOUND.
include(GlimraFindLibrary)
glimra_find_library(Libdeflate HEADER libdeflate.h NAMES deflate)
