# The manual page, the package's documents (copyright, changelog), the bash
# completion and the Debian package. Included from the top CMakeLists.txt,
# which installs ${FCLOAK_MAN_PAGE} beside the program.
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

# /usr/share/doc/fcloak: the licence as a machine-readable copyright file and
# the changelog, as Debian policy asks of every package.
#
# copyright: made from LICENSE, so that the licence text has one source; the
# holder and year come from its "Copyright (c)" line, the text from
# "Permission is hereby granted" on, each line indented by one blank and
# empty lines written as " .".
set(FCLOAK_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(FCLOAK_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FCLOAK_LICENSE} ${FCLOAK_CHANGELOG})
file(READ ${FCLOAK_LICENSE} fcloak_license)
if(NOT fcloak_license MATCHES "Copyright \\(c\\) ([^\n]+)\n")
  message(FATAL_ERROR "LICENSE: no line 'Copyright (c) YEAR HOLDER'")
endif()
set(fcloak_copyright_holder "${CMAKE_MATCH_1}")
string(FIND "${fcloak_license}" "Permission is hereby granted" fcloak_grant)
if(fcloak_grant LESS 0)
  message(FATAL_ERROR "LICENSE: not the MIT licence text ('Permission is hereby granted' is missing)")
endif()
string(SUBSTRING "${fcloak_license}" ${fcloak_grant} -1 fcloak_license_text)
string(STRIP "${fcloak_license_text}" fcloak_license_text)
string(REPLACE "\n\n" "\n.\n" fcloak_license_text "${fcloak_license_text}")
string(REPLACE "\n" "\n " fcloak_license_text "${fcloak_license_text}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: fcloak
Upstream-Contact: fcloak developers <fcloak@example.org>

Files: *
Copyright: ${fcloak_copyright_holder}
License: Expat

License: Expat
 ${fcloak_license_text}
")

# changelog.gz: packaging/changelog in the Debian format, whose newest entry
# must be this version; compressed like the manual page.
file(STRINGS ${FCLOAK_CHANGELOG} fcloak_changelog_top LIMIT_COUNT 1)
string(REPLACE "." "\\." fcloak_version_pattern "${PROJECT_VERSION}")
if(NOT fcloak_changelog_top MATCHES "^fcloak \\(${fcloak_version_pattern}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is '${fcloak_changelog_top}', "
                      "not version ${PROJECT_VERSION} of project()")
endif()
set(fcloak_doc_files ${PROJECT_BINARY_DIR}/copyright)
if(FCLOAK_GZIP)
  execute_process(COMMAND ${FCLOAK_GZIP} -9 -n -c ${FCLOAK_CHANGELOG}
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz
                  RESULT_VARIABLE fcloak_gzip_status)
  if(NOT fcloak_gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip of the changelog failed: ${fcloak_gzip_status}")
  endif()
  list(APPEND fcloak_doc_files ${PROJECT_BINARY_DIR}/changelog.gz)
endif()
install(FILES ${fcloak_doc_files} DESTINATION share/doc/fcloak)

# The bash completion, where bash-completion looks for it: by the command's
# name, loaded when fcloak is first completed.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/fcloak.bash-completion
        DESTINATION share/bash-completion/completions RENAME fcloak)

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
