# Run by CPack on the staged files, before it builds the Debian package from them
# (CPACK_PRE_BUILD_SCRIPTS): what Debian asks of a package beyond what `cmake --install` lays out.
set(usr "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")

# Debian's zsh reads the completions under /usr from vendor-completions, not site-functions.
file(GLOB zsh_completions "${usr}/share/zsh/site-functions/*")
if(zsh_completions)
  file(COPY ${zsh_completions} DESTINATION "${usr}/share/zsh/vendor-completions")
  file(REMOVE_RECURSE "${usr}/share/zsh/site-functions")
endif()

# The licence in Debian's machine-readable copyright format: the MIT licence is "Expat" there,
# and its text is indented, with a dot for each empty line.
file(READ "${CPACK_RESOURCE_FILE_LICENSE}" license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(holders "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission" start)
string(SUBSTRING "${license}" ${start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE "${doc}/copyright"
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${CPACK_PACKAGE_NAME}\n\n"
     "Files: *\nCopyright: ${holders}\nLicense: Expat\n ${terms}\n")

# A native package's changelog: one entry, for this version.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
     "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")

# vesk is linked statically on purpose: a one-request program spends most of its run starting.
file(WRITE "${usr}/share/lintian/overrides/${CPACK_PACKAGE_NAME}"
     "${CPACK_PACKAGE_NAME}: statically-linked-binary [usr/bin/*]\n")

# Manual pages and the changelog compressed as Debian wants them.
file(GLOB pages "${usr}/share/man/man*/*.[1-9]")
execute_process(COMMAND gzip -9n ${pages} "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
