# The manual page and the Debian package. Included from the top
# CMakeLists.txt, which installs ${FCLOAK_MAN_PAGE} beside the program.
#
# The package (tools/package.sh runs these steps and makes the Windows zip):
#   cmake -S . -B build-package -DFCLOAK_TESTS=OFF
#   cmake --build build-package
#   cpack --config build-package/CPackConfig.cmake -B build-package
#     -> build-package/fcloak_<version>_<arch>.deb
#
# The version is the project's, from project() in CMakeLists.txt, and only
# there: the package, the file names and the manual page's footer take it.

# The manual page as installed: the source with the version in the fourth
# field of .TH, compressed as Debian installs manual pages (gzip -9n: no name
# and no time stamp, so that every build gives the same bytes).
set(FCLOAK_MAN_SOURCE ${PROJECT_SOURCE_DIR}/man/fcloak.1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FCLOAK_MAN_SOURCE})
file(READ ${FCLOAK_MAN_SOURCE} fcloak_man_text)
set(fcloak_man_th "\n\\.TH FCLOAK 1 ([^ \n]+) \"fcloak\"")
if(NOT fcloak_man_text MATCHES "${fcloak_man_th}")
  message(FATAL_ERROR "man/fcloak.1: no line '.TH FCLOAK 1 DATE \"fcloak\" ...' to put the version in")
endif()
string(REGEX REPLACE "${fcloak_man_th}" "\n.TH FCLOAK 1 \\1 \"fcloak ${PROJECT_VERSION}\""
       fcloak_man_text "${fcloak_man_text}")
file(WRITE ${PROJECT_BINARY_DIR}/fcloak.1 "${fcloak_man_text}")

find_program(FCLOAK_GZIP gzip)
if(FCLOAK_GZIP)
  execute_process(COMMAND ${FCLOAK_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/fcloak.1
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/fcloak.1.gz
                  RESULT_VARIABLE fcloak_gzip_status)
  if(NOT fcloak_gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip of the manual page failed: ${fcloak_gzip_status}")
  endif()
  set(FCLOAK_MAN_PAGE ${PROJECT_BINARY_DIR}/fcloak.1.gz)
else()
  set(FCLOAK_MAN_PAGE ${PROJECT_BINARY_DIR}/fcloak.1)
endif()

# The Windows programs are shipped in a zip that tools/package.sh makes from
# the 32-bit and the 64-bit build; CPack is for the Debian package only.
if(WIN32)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fcloak)
set(CPACK_PACKAGE_VENDOR fcloak)
set(CPACK_PACKAGE_CONTACT "fcloak developers <fcloak@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypt or decrypt one file in place under a password")
set(CPACK_PACKAGE_DESCRIPTION
"fcloak is a console tool that encrypts or decrypts one file in place under
a password of up to 16 characters. It keeps a legacy encrypted file format
bit for bit, so that files encrypted earlier stay readable. That format is
not modern authenticated encryption: it keeps casual readers out of a file,
but it does not stand up to a determined attacker.

All text of the program is Simplified Chinese (GBK, shown in UTF-8 on a
UTF-8 terminal).")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is computed from the installed program by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
