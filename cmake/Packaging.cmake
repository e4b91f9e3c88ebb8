# Installation of the programs with their desktop integration, and the Debian package `kestel`
# built from it by cpack (scripts/package.sh does both). Installs: kestel, kestel-cli and
# nimbalux-sim with its sample router, the .desktop file, the icon in the hicolor theme (SVG and
# PNGs), the man pages and the bash completion of kestel-cli.
include(GNUInstallDirs)

if(TARGET nimbalux-sim)
  install(TARGETS nimbalux-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/sample/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/nimbalux-sim/sample)
endif()

# Man pages, compressed as Debian keeps them.
set(man_pages kestel kestel-cli nimbalux-sim)
set(man_outputs)
foreach(page ${man_pages})
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1)
  set(output ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND man_outputs ${output})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The icon as PNGs beside the SVG (which src/CMakeLists.txt installs), drawn from it at build time
# (not in sanitizer builds, whose leak check would fail the drawing program over Qt's caches).
if(KESTEL_GUI AND NOT KESTEL_SANITIZE)
  find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
  set(icon_sizes 16 22 24 32 48 64 128 256)
  set(icon_source ${PROJECT_SOURCE_DIR}/src/gui/art/kestel.svg)
  set(icon_outputs)
  foreach(size ${icon_sizes})
    list(APPEND icon_outputs ${PROJECT_BINARY_DIR}/icons/${size}x${size}/apps/kestel.png)
  endforeach()
  add_executable(render_icon ${PROJECT_SOURCE_DIR}/packaging/RenderIcon.cpp)
  target_link_libraries(render_icon PRIVATE Qt6::Svg Qt6::Gui)
  add_custom_command(OUTPUT ${icon_outputs}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:render_icon>
            ${icon_source} ${PROJECT_BINARY_DIR}/icons ${icon_sizes}
    DEPENDS render_icon ${icon_source} VERBATIM)
  add_custom_target(icons ALL DEPENDS ${icon_outputs})
  install(DIRECTORY ${PROJECT_BINARY_DIR}/icons/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor FILES_MATCHING PATTERN "*.png")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestel-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestel-cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Halvorne")
set(CPACK_PACKAGE_CONTACT "Kestel developers <kestel@halvorne.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop management client for Nimbalux routers")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestel connects to routers that run the Nimbalux operating system, logs in over an
encrypted session and shows the router's menus as live tables, editors, actions, terminals
and file transfers built from descriptor files the router supplies. The package holds the
desktop program (kestel), the command line (kestel-cli) and a router simulator
(nimbalux-sim).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the library scan cannot see them: the platform plugins (windows on X11
# and Wayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# addr2line gives a crash report's backtrace its function names.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "binutils")
# The programs keep their symbol table (for crash reports) but not their debugging information.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StripDebug.cmake)
include(CPack)
