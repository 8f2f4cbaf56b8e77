# glimra_find_library(<Name> HEADER <header> NAMES <library names...>)
# The body of the small find modules: finds the header and the library and
# provides <Name>::<Name> and <Name>_FOUND. With GLIMRA_STATIC_RUNTIME the
# static archive is preferred: one shared library less to load at every
# start of the tool.
include(FindPackageHandleStandardArgs)

macro(glimra_find_library name)
    cmake_parse_arguments(_GFL "" "HEADER" "NAMES" ${ARGN})
    find_path(${name}_INCLUDE_DIR NAMES ${_GFL_HEADER})
    set(_gfl_names ${_GFL_NAMES})
    if(GLIMRA_STATIC_RUNTIME)
        list(TRANSFORM _GFL_NAMES PREPEND lib OUTPUT_VARIABLE _gfl_static)
        list(TRANSFORM _gfl_static APPEND .a)
        list(PREPEND _gfl_names ${_gfl_static})
    endif()
    # find_library keeps what it found in the cache: a build directory first
    # configured the other way would keep linking the other kind.
    if(${name}_LIBRARY)
        if(GLIMRA_STATIC_RUNTIME AND NOT ${name}_LIBRARY MATCHES "\\.a$")
            unset(${name}_LIBRARY CACHE)
        elseif(NOT GLIMRA_STATIC_RUNTIME AND ${name}_LIBRARY MATCHES "\\.a$")
            unset(${name}_LIBRARY CACHE)
        endif()
    endif()
    find_library(${name}_LIBRARY NAMES ${_gfl_names})
    find_package_handle_standard_args(${name} REQUIRED_VARS ${name}_LIBRARY ${name}_INCLUDE_DIR)
    if(${name}_FOUND AND NOT TARGET ${name}::${name})
        add_library(${name}::${name} UNKNOWN IMPORTED)
        set_target_properties(${name}::${name} PROPERTIES
            IMPORTED_LOCATION "${${name}_LIBRARY}"
            INTERFACE_INCLUDE_DIRECTORIES "${${name}_INCLUDE_DIR}")
    endif()
    mark_as_advanced(${name}_INCLUDE_DIR ${name}_LIBRARY)
endmacro()
