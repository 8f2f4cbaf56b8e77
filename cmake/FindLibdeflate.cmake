# Provides Libdeflate::Libdeflate and Libdeflate_FOUND. The static archive
# is preferred (GLIMRA_STATIC_RUNTIME): one shared library less to load at
# every start.
find_path(Libdeflate_INCLUDE_DIR NAMES libdeflate.h)
if(GLIMRA_STATIC_RUNTIME)
    find_library(Libdeflate_LIBRARY NAMES libdeflate.a deflate libdeflate)
else()
    find_library(Libdeflate_LIBRARY NAMES deflate libdeflate)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libdeflate
    REQUIRED_VARS Libdeflate_LIBRARY Libdeflate_INCLUDE_DIR)

if(Libdeflate_FOUND AND NOT TARGET Libdeflate::Libdeflate)
    add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
    set_target_properties(Libdeflate::Libdeflate PROPERTIES
        IMPORTED_LOCATION "${Libdeflate_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${Libdeflate_INCLUDE_DIR}")
endif()
mark_as_advanced(Libdeflate_INCLUDE_DIR Libdeflate_LIBRARY)
