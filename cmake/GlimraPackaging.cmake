# The Debian package: `make package`, or `cpack -G DEB` in a configured
# build directory. It holds what `cmake --install` installs, below /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimra)
set(CPACK_PACKAGE_VENDOR "glimra developers")
set(CPACK_PACKAGE_CONTACT "glimra developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "glimra tells whether two picture files hold exactly the same pixels and\n answers with its exit status (0 identical, 1 different or failed), for\n scripts and CI pipelines. It can write a difference picture.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# dpkg-shlibdeps finds the runtime libraries the binary links, with the
# versions the build saw. FreeImage is loaded at run time, so it is named
# here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfreeimage3 (>= 3.18.0)")

include(CPack)
