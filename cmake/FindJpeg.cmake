# Provides Jpeg::Jpeg and Jpeg_FOUND: libjpeg-turbo (Debian's
# libjpeg62-turbo-dev), the decoder the picture library itself uses.
include(GlimraFindLibrary)
glimra_find_library(Jpeg HEADER jpeglib.h NAMES jpeg)
