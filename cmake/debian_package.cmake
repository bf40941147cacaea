# SPDX-License-Identifier: GPL-3.0-or-later
# "make package": a Debian package of what "make install" installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME webloom)
set(CPACK_PACKAGE_VENDOR "The webloom developers")
set(CPACK_PACKAGE_CONTACT "The webloom developers <webloom@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build a small personal web site without writing HTML")
# Lines of at most 80 characters, as dpkg shows them in a terminal.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "webloom is a desktop program for beginners: fill in the fields on six tabs"
  "of one window (top page, sub page, photo pages, self-introduction, link"
  "collection) and it writes a small static web site in Shift-JIS. The whole"
  "site is saved as one text file, and a built-in FTP client uploads the pages"
  "to a provider. The command line writes and uploads the same pages without a"
  "window. Its window and messages are in Japanese.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://webloom.example.org/")
# Depends is computed by dpkg-shlibdeps from the libraries the program links,
# and the keyring library loads libsecret only when it runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsecret-1-0)
# Without a Japanese font every caption of the window is a row of boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
