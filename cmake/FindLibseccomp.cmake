# Provides Libseccomp::Libseccomp and Libseccomp_FOUND.
include(GlimraFindLibrary)
glimra_find_library(Libseccomp HEADER seccomp.h NAMES seccomp)
