# What `cmake --install` puts where: the programs, the manual pages, the examples, and for
# the desktop program its desktop entry, icon and the file type of the run store. The
# Debian package (cmake/ZylPackaging.cmake) is made from the same rules.
include(GNUInstallDirs)
set(ZYL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zyl)

foreach(program zyl zyl-batch zyl-console)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Debian wants manual pages and changelogs compressed at the highest level and without the
# file name or time stamp in the header (gzip -n), so that two builds give the same bytes.
find_program(ZYL_GZIP gzip REQUIRED)
function(zyl_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "${ZYL_GZIP} -9n -c \"$1\" > \"$2\"" sh ${source} ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

set(_zyl_generated)
foreach(page zyl.1 zyl-batch.1 zyl-console.1 zyl-script.5)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" _section ${page})
  set(_out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  zyl_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page} ${_out})
  list(APPEND _zyl_generated ${_out})
  install(FILES ${_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section})
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${ZYL_DOCDIR}/examples
        USE_SOURCE_PERMISSIONS)

if(TARGET zyl)
  install(FILES ${PROJECT_SOURCE_DIR}/data/zyl.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/zyl-mime.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME zyl.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/zyl.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  # The fixed sizes are drawn from the SVG at build time, so the SVG stays the one source.
  find_program(ZYL_RSVG_CONVERT rsvg-convert)
  if(ZYL_RSVG_CONVERT)
    foreach(size 16 22 24 32 48 64 128 256)
      set(_out ${PROJECT_BINARY_DIR}/icons/${size}x${size}/zyl.png)
      file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/icons/${size}x${size})
      add_custom_command(OUTPUT ${_out}
                         COMMAND ${ZYL_RSVG_CONVERT} -w ${size} -h ${size} -o ${_out}
                                 ${PROJECT_SOURCE_DIR}/data/icons/zyl.svg
                         DEPENDS ${PROJECT_SOURCE_DIR}/data/icons/zyl.svg VERBATIM)
      list(APPEND _zyl_generated ${_out})
      install(FILES ${_out}
              DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    # Not a warning: building and running do without it; scripts/package.sh refuses a package
    # without the fixed sizes.
    message(STATUS "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
  endif()
endif()

add_custom_target(zyl-install-data ALL DEPENDS ${_zyl_generated})
