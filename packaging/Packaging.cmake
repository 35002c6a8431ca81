# Desktop integration, install layout and the Debian package; on macOS the application bundle.
# Included once from the top-level CMakeLists.txt, after src/.

set(QUORVEL_APP_ID "com.quorvel.NTFSMount" CACHE STRING "Reverse-DNS application identifier")
set(QUORVEL_APP_NAME "Quorvel NTFS Mount")
set(QUORVEL_EXECUTABLE quorvel-ntfs-mount)
set(QUORVEL_ICON_NAME quorvel-ntfs-mount)
set(QUORVEL_ICON_SVG "${CMAKE_CURRENT_LIST_DIR}/${QUORVEL_ICON_NAME}.svg")
set(QUORVEL_PACKAGING_OUT "${CMAKE_BINARY_DIR}/packaging")

# The Info.plist keys, also on Linux, so that the template is checked where the tests run.
set(MACOSX_BUNDLE_EXECUTABLE_NAME ${QUORVEL_APP_NAME})
set(MACOSX_BUNDLE_GUI_IDENTIFIER ${QUORVEL_APP_ID})
set(MACOSX_BUNDLE_BUNDLE_NAME ${QUORVEL_APP_NAME})
set(MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION})
set(MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION})
set(MACOSX_BUNDLE_ICON_FILE ${QUORVEL_ICON_NAME}.icns)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in ${QUORVEL_PACKAGING_OUT}/Info.plist)

if(APPLE)
  # Quorvel NTFS Mount.app: the executable, Info.plist and the icon. The notification service
  # (app/MacNotifications.mm) is part of quorvel_app on this platform.
  set_target_properties(${QUORVEL_EXECUTABLE} PROPERTIES
    MACOSX_BUNDLE TRUE
    OUTPUT_NAME ${QUORVEL_APP_NAME}
    MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_LIST_DIR}/Info.plist.in
    MACOSX_BUNDLE_GUI_IDENTIFIER ${QUORVEL_APP_ID}
    MACOSX_BUNDLE_BUNDLE_NAME ${QUORVEL_APP_NAME}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
    MACOSX_BUNDLE_ICON_FILE ${QUORVEL_ICON_NAME}.icns)
  find_program(QUORVEL_RSVG_CONVERT rsvg-convert REQUIRED)
  find_program(QUORVEL_ICONUTIL iconutil REQUIRED)
  set(iconset ${QUORVEL_PACKAGING_OUT}/${QUORVEL_ICON_NAME}.iconset)
  set(icns ${QUORVEL_PACKAGING_OUT}/${QUORVEL_ICON_NAME}.icns)
  set(commands)
  foreach(size 16 32 128 256 512)
    math(EXPR double "${size} * 2")
    list(APPEND commands
      COMMAND ${QUORVEL_RSVG_CONVERT} -w ${size} -h ${size} ${QUORVEL_ICON_SVG} -o ${iconset}/icon_${size}x${size}.png
      COMMAND ${QUORVEL_RSVG_CONVERT} -w ${double} -h ${double} ${QUORVEL_ICON_SVG} -o ${iconset}/icon_${size}x${size}@2x.png)
  endforeach()
  add_custom_command(OUTPUT ${icns}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${iconset}
    ${commands}
    COMMAND ${QUORVEL_ICONUTIL} -c icns ${iconset} -o ${icns}
    DEPENDS ${QUORVEL_ICON_SVG}
    COMMENT "Application icon (icns)")
  target_sources(${QUORVEL_EXECUTABLE} PRIVATE ${icns})
  set_source_files_properties(${icns} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
  return()
endif()

# ---- Linux: launcher, icons, AppStream metainfo ----

# Wayland compositors and docks match the running window to its launcher by this name.
target_compile_definitions(${QUORVEL_EXECUTABLE} PRIVATE QUORVEL_DESKTOP_FILE_NAME="${QUORVEL_APP_ID}")

configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvel-ntfs-mount.desktop.in
  ${QUORVEL_PACKAGING_OUT}/${QUORVEL_APP_ID}.desktop @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvel-ntfs-mount.metainfo.xml.in
  ${QUORVEL_PACKAGING_OUT}/${QUORVEL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${QUORVEL_PACKAGING_OUT}/${QUORVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUORVEL_PACKAGING_OUT}/${QUORVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# D-Bus activation: a launcher asks the session bus for the application by its identifier, and
# the bus starts the program when no instance runs. The bus needs the program's absolute path,
# known only when installing (cmake --install --prefix, cpack's /usr), so the file is made then.
install(CODE "
  set(QUORVEL_APP_ID \"${QUORVEL_APP_ID}\")
  set(QUORVEL_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${QUORVEL_EXECUTABLE}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quorvel-ntfs-mount.service.in\"
    \"${QUORVEL_PACKAGING_OUT}/dbus-1/${QUORVEL_APP_ID}.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/dbus-1/services\" TYPE FILE
    FILES \"${QUORVEL_PACKAGING_OUT}/dbus-1/${QUORVEL_APP_ID}.service\")")

# The hicolor sizes are rendered from the one drawing at build time.
find_program(QUORVEL_RSVG_CONVERT rsvg-convert)
if(NOT QUORVEL_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert is needed to render the application icon (Debian: librsvg2-bin; scripts/setup build)")
endif()
set(QUORVEL_ICON_SIZES 16 22 24 32 48 64 128 256)
set(icon_pngs)
foreach(size IN LISTS QUORVEL_ICON_SIZES)
  set(png ${QUORVEL_PACKAGING_OUT}/icons/${size}x${size}/${QUORVEL_ICON_NAME}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_PACKAGING_OUT}/icons/${size}x${size}
    COMMAND ${QUORVEL_RSVG_CONVERT} -w ${size} -h ${size} ${QUORVEL_ICON_SVG} -o ${png}
    DEPENDS ${QUORVEL_ICON_SVG}
    COMMENT "Application icon ${size}x${size}")
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quorvel_icons ALL DEPENDS ${icon_pngs})
install(FILES ${QUORVEL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The licence, in Debian's machine-readable form, where Debian looks for a package's.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUORVEL_EXECUTABLE})

# ---- The polkit action of the privileged helpers (src/platform/helpers) ----

# pkexec matches an action's exec.path exactly, so the program's path is written in as the file is
# installed, under the prefix it is installed to (cpack's /usr, cmake --install's --prefix).
set(QUORVEL_POLICY_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/quorvel-ntfs-mount.policy.in)
set(QUORVEL_POLICY_FILE ${QUORVEL_APP_ID}.policy)
install(CODE "
  set(QUORVEL_APP_ID \"${QUORVEL_APP_ID}\")
  set(QUORVEL_ICON_NAME \"${QUORVEL_ICON_NAME}\")
  set(QUORVEL_VOLUME_STATE \"\${CMAKE_INSTALL_PREFIX}/${QUORVEL_LIBEXEC_SUBDIR}/volume-state\")
  configure_file(\"${QUORVEL_POLICY_TEMPLATE}\" \"${QUORVEL_PACKAGING_OUT}/installed/${QUORVEL_POLICY_FILE}\" @ONLY)")
install(FILES ${QUORVEL_PACKAGING_OUT}/installed/${QUORVEL_POLICY_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
# The same action for the build tree's program, for the tests' own polkitd (tests/support/UDisksStack.cpp).
set(QUORVEL_VOLUME_STATE ${QUORVEL_BUILD_LIBEXEC_DIR}/volume-state)
configure_file(${QUORVEL_POLICY_TEMPLATE} ${QUORVEL_PACKAGING_OUT}/build-tree/${QUORVEL_POLICY_FILE} @ONLY)

# ---- The Debian package (cpack -G DEB, or scripts/package) ----

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUORVEL_EXECUTABLE})
set(CPACK_PACKAGE_VENDOR "Quorvel")
# No list of its own yet: the address is a placeholder in the reserved .invalid domain, which no mail
# reaches (cpack and dpkg want an address in the Maintainer field).
set(CPACK_PACKAGE_CONTACT "Quorvel NTFS Mount maintainers <maintainers@quorvel-ntfs-mount.invalid>" CACHE STRING
  "Maintainer field of the Debian package")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mount NTFS drives read-write from a tray menu")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quorvel NTFS Mount finds the NTFS partitions of attached disks, lists them in a"
  "tray menu and a main window, remounts one read-write through ntfs-3g on FUSE"
  "with administrator rights (pkexec), safely ejects it again and reports every"
  "outcome. It can also install and remove its own prerequisites.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries (Qt 6, QCoro, libplist, libblkid, the C++ runtime) come from dpkg-shlibdeps;
# the programs the application and its stand-ins start, and udisks2, whose D-Bus service lists and
# mounts the disks for the user, are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ntfs-3g, fuse3, udisks2, pkexec, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
include(CPack)
