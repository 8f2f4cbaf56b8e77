# FreeImage ships neither a CMake package nor a pkg-config file.
# Provides FreeImage::FreeImage (linked), FreeImage::Headers (its header
# only, for code that loads the library at run time) and FreeImage_FOUND.
# On Windows only the header is needed: FreeImage.dll, which users install,
# is loaded at run time, and tests do not run there.
find_path(FreeImage_INCLUDE_DIR NAMES FreeImage.h)
include(FindPackageHandleStandardArgs)
if(WIN32)
    find_package_handle_standard_args(FreeImage REQUIRED_VARS FreeImage_INCLUDE_DIR)
    if(FreeImage_FOUND AND NOT TARGET FreeImage::Headers)
        add_library(FreeImage::Headers INTERFACE IMPORTED)
        set_target_properties(FreeImage::Headers PROPERTIES
            INTERFACE_INCLUDE_DIRECTORIES "${FreeImage_INCLUDE_DIR}")
    endif()
    mark_as_advanced(FreeImage_INCLUDE_DIR)
    return()
endif()
find_library(FreeImage_LIBRARY NAMES freeimage FreeImage)
find_package_handle_standard_args(FreeImage
    REQUIRED_VARS FreeImage_LIBRARY FreeImage_INCLUDE_DIR)

if(FreeImage_FOUND AND NOT TARGET FreeImage::FreeImage)
    add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
    set_target_properties(FreeImage::FreeImage PROPERTIES
        IMPORTED_LOCATION "${FreeImage_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${FreeImage_INCLUDE_DIR}")
    add_library(FreeImage::Headers INTERFACE IMPORTED)
    set_target_properties(FreeImage::Headers PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${FreeImage_INCLUDE_DIR}")
endif()
mark_as_advanced(FreeImage_INCLUDE_DIR FreeImage_LIBRARY)
