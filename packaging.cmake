# The Debian package, made by CPack from the install rules: `cpack -G DEB`
# in the build folder, or scripts/make-deb.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cloakcam)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "cloakcam maintainers <maintainers@users.noreply.c-seed-475f8be9.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time webcam effect that bends the picture behind you")
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "cloakcam shows the picture of the camera in a small window. It keeps a\n\
reference picture of the scene, and wherever the live picture differs from\n\
it, shows the reference displaced up and to the right, like light bent\n\
around an invisibility cloak, brightening what has just changed. Without a\n\
camera it shows a moving test pattern.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# GStreamer's converters and camera sources are plugins, loaded at run time:
# without them only the test pattern shows.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-pipewire")
include(CPack)
