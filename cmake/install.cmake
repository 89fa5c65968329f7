# What `cmake --install` puts in place, the icons that rzt2tool compiles in,
# and the Debian package (cpack -G DEB).

set(RZT2_RESOURCES ${CMAKE_SOURCE_DIR}/resources)
set(RZT2_APP_ID com.velmora.rzt2tool)

# The texts that name the formats (the man pages, bash completion, the MIME
# type) take them from the format table: rzt2-format-facts fills in their
# @NAME@s, and the project's version. Under ThreadSanitizer the program runs
# without address randomisation, which that sanitizer refuses on many kernels.
set(RZT2_FILLED_IN)
if(RZT2_SANITIZE STREQUAL "thread")
  set(run_tool setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R)
endif()
function(rzt2_fill_in template output)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${output}
    COMMAND ${run_tool} $<TARGET_FILE:rzt2-format-facts> ${RZT2_RESOURCES}/${template}
      ${CMAKE_CURRENT_BINARY_DIR}/${output} PROJECT_VERSION=${PROJECT_VERSION}
    DEPENDS rzt2-format-facts ${RZT2_RESOURCES}/${template}
    VERBATIM)
  set(RZT2_FILLED_IN ${RZT2_FILLED_IN} ${CMAKE_CURRENT_BINARY_DIR}/${output} PARENT_SCOPE)
endfunction()
rzt2_fill_in(rzt2.bash-completion.in resources/rzt2.bash-completion)
rzt2_fill_in(rzt2-mime.xml.in resources/rzt2-mime.xml)

# Man pages are installed compressed, as Debian does.
find_program(GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man ${CMAKE_CURRENT_BINARY_DIR}/resources)
foreach(page rzt2 rzt2tool)
  rzt2_fill_in(${page}.1.in man/${page}.1)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${GZIP} -9nf -k ${page}.1
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man
    VERBATIM)
  list(APPEND RZT2_FILLED_IN ${compressed})
endforeach()
add_custom_target(rzt2_filled_in ALL DEPENDS ${RZT2_FILLED_IN})

install(TARGETS rzt2 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/rzt2.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/resources/rzt2.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME rzt2)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/resources/rzt2-mime.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME rzt2.xml)
# The licence, GPL-3.0-or-later (LICENSE), in the form Debian reads it.
install(FILES ${RZT2_RESOURCES}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET rzt2tool)
  # The icon is drawn once, as SVG; the hicolor PNG sizes are rendered from it.
  # The same PNGs are compiled into rzt2tool for its window and About box:
  # qt_add_resources links them into a static library through an object
  # library, so the linker cannot drop them.
  find_program(RSVG_CONVERT rsvg-convert REQUIRED)
  set(RZT2_ICON_SIZES 16 22 24 32 48 64 128 256)
  set(icons)
  foreach(size IN LISTS RZT2_ICON_SIZES)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/rzt2tool-${size}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${RZT2_RESOURCES}/rzt2tool.svg
      DEPENDS ${RZT2_RESOURCES}/rzt2tool.svg
      VERBATIM)
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME rzt2tool.png)
  endforeach()
  qt_add_resources(rzt2ui rzt2tool_icons PREFIX /icons BASE ${CMAKE_CURRENT_BINARY_DIR}/icons FILES ${icons})

  install(TARGETS rzt2tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/rzt2tool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${RZT2_RESOURCES}/rzt2tool.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${RZT2_RESOURCES}/${RZT2_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${RZT2_RESOURCES}/${RZT2_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package: the runtime libraries come from dpkg-shlibdeps; Qt's
# platform plugins are loaded at run time, so they are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rzt2)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "map picture converter for RZT2 map files")
# Names every format of the format table, as the install test checks.
set(CPACK_PACKAGE_DESCRIPTION
  "Turns pictures (GIF, JPEG, PNG, BMP, TIFF, WMF and EMF metafiles, PDF, HEIF, AVIF, WebP, JPEG 2000, SVG and SVGZ) into RZT2 map files for a phone map viewer, and map files back into GIF, JPEG, PNG, BMP or TIFF pictures. Provides the command-line tool rzt2 and the desktop program rzt2tool.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_STRIP_FILES ON)
include(CPack)
