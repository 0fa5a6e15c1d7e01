# `cmake --install` and the Debian package (cpack -G DEB, scripts/package).
# Every destination is relative: the package puts the tree under /usr.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(install_dir ${CMAKE_BINARY_DIR}/install-files)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/brivane)

foreach(program brivane brivane-cli brivane-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# Found by the window through ProgramPaths::installedLibraryDir; only ever
# loaded, never linked, so no soname and no executable bit.
if(TARGET BVSGerman)
  install(TARGETS BVSGerman LIBRARY DESTINATION ${BRIVANE_INSTALL_LIBDIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
install(FILES res/log4j.properties DESTINATION ${BRIVANE_INSTALL_DATADIR})
install(FILES res/install/60-brivane.rules DESTINATION lib/udev/rules.d)
install(FILES res/install/brivane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/install/brivane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# brivane-cli as a service, one instance per serial port; its options in
# /etc/default, a conffile of the package.
install(FILES res/install/brivane-cli@.service DESTINATION lib/systemd/system)
install(FILES res/install/brivane.default DESTINATION /etc/default RENAME brivane)
file(WRITE ${install_dir}/conffiles "/etc/default/brivane\n")

set(generated)
find_program(BRIVANE_RSVG_CONVERT rsvg-convert)
if(BRIVANE_RSVG_CONVERT)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${install_dir}/icons/${size}/brivane.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${install_dir}/icons/${size}
      COMMAND ${BRIVANE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/res/install/brivane.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/res/install/brivane.svg VERBATIM)
    list(APPEND generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert (Debian package librsvg2-bin) not found: the icon is installed as SVG only")
endif()

# Man pages and the changelog as Debian keeps them: compressed, no time stamp.
function(brivane_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${source} ${target}
    DEPENDS ${source} VERBATIM)
endfunction()
set(VERSION ${PROJECT_VERSION})
set(LANGUAGE_MODULE /usr/${BRIVANE_INSTALL_LIBDIR}/libBVSGerman.so)
foreach(page brivane brivane-cli brivane-sim)
  configure_file(res/install/man/${page}.1 ${install_dir}/man/${page}.1 @ONLY)
  brivane_gzip(${install_dir}/man/${page}.1 ${install_dir}/man/${page}.1.gz)
  list(APPEND generated ${install_dir}/man/${page}.1.gz)
  install(FILES ${install_dir}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(res/install/changelog ${install_dir}/changelog @ONLY)
brivane_gzip(${install_dir}/changelog ${install_dir}/changelog.gz)
list(APPEND generated ${install_dir}/changelog.gz)
install(FILES ${install_dir}/changelog.gz res/install/copyright DESTINATION ${doc_dir})
add_custom_target(brivane_install_files ALL DEPENDS ${generated})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brivane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "BrivaneSoftware")
set(CPACK_PACKAGE_CONTACT "BrivaneSoftware developers <support@brivane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator program for Brivane laser power meters")
set(CPACK_PACKAGE_DESCRIPTION
"Drives one water-cooled calorimetric laser power meter of the Brivane family
(plain, EC and Compact models) over an RS-485 serial adapter or an FTDI USB
adapter: power, cooling-water flow and temperatures in large digits and on
time plots, cooling-water alarms, shutter, electronic calibration, protocol
file and bus traffic log. Holds the operator window (brivane), the same core
without a window (brivane-cli), a simulated meter on a pseudo-terminal
(brivane-sim) and the German language module.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brivane.example.org/software")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${install_dir}/conffiles)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
