# The Debian package, made by CPack from the install rules (scripts/package.sh runs it).
# The version comes from project(); the changelog's latest entry must name the same one.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _zyl_changelog_head LIMIT_COUNT 1)
if(NOT _zyl_changelog_head MATCHES "^zyl \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${_zyl_changelog_head}\": add an entry "
                      "for version ${PROJECT_VERSION} at its top")
endif()

zyl_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_target(zyl-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${ZYL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME zyl)

set(ZYL_PACKAGE_MAINTAINER "ZYL developers <zyl-developers@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zyl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZYL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "optimiser built on a genetic algorithm")
# The extended description; CPack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ZYL searches for the values of decision variables (Boolean, integer, or real
with a range) that minimise or maximise an objective function. The objective
is a formula in ZYL's own expression language, an external program that reads
the variables from one file and writes the value to another, or values typed
in by hand.

The package holds three programs: zyl, the desktop program, with live
statistics, charts and tables; zyl-batch, which runs a task to its end without
windows and reports the result as a table or as JSON, for use by other
programs; and zyl-console, the expression language at a terminal, with real
and complex numbers, vectors, symbolic simplification and differentiation.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the toolkit's platform plugins (the display
# connection) are loaded at run time, so no linker dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
