# The Debian package (CPack's DEB generator), built by scripts/package.sh from the "package"
# preset: installed under /usr, with the Debian documentation files, stripped, dependencies
# computed from the binaries by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamberlin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tamberlin maintainers <maintainers@users.noreply.c-seed-aaf810ac.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and save the pictures and videos in browser caches")
set(CPACK_PACKAGE_DESCRIPTION
    "Tamberlin lists the pictures and videos held in your browser caches: those of
Firefox, of Chromium and the browsers built on it (Google Chrome, Brave,
Microsoft Edge, Vivaldi, Opera), and the Internet Explorer (WinINet) cache of a
Wine prefix or of a copied Windows profile. It shows a clicked one in a preview
window and copies the ticked ones into a folder of your choice. It only reads
the caches.
.
The same listing and saving work from a script with the tamberlin command
(tamberlin --list, tamberlin --save DIR), which needs no display.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tamberlin_<version>-<revision>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the WebP reader for WebP previews,
# and fonts metric-compatible with Arial, which the window's layout is measured in. The xcb
# platform plug-in is part of libqt6gui6, which the window links.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, fonts-liberation, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
