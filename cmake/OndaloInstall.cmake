# Installation and packaging.
#
# Programs go to bin/; the component modules, the libraries they load by
# name and the shared platform libraries go to lib/ondalo/, private to the
# programs (they find them through their RUNPATH, the modules find each
# other's neighbours in their own folder). The install step then registers
# the installed modules in lib/ondalo/kiv-registry.reg, where an installed
# program looks for its registry (platform/registry/registry.h), so nothing
# is written into a user's home. The registry names the modules at their
# final place, also when they are staged under DESTDIR for a package.

include(GNUInstallDirs)

set(ONDALO_MODULE_DIR lib/ondalo)

set(ondalo_programs ondalo-cli kivreg)
if(TARGET ondalo)
  list(APPEND ondalo_programs ondalo)
endif()
get_property(ondalo_modules GLOBAL PROPERTY ONDALO_COMPONENTS)
set(ondalo_libraries "")
foreach(lib kivplatform kivsound kivmedia lame_enc mpglib vcdrive)
  if(TARGET ${lib})
    list(APPEND ondalo_libraries ${lib})
  endif()
endforeach()

set_target_properties(${ondalo_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${ONDALO_MODULE_DIR}")
set_target_properties(${ondalo_libraries} ${ondalo_modules} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${ondalo_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${ondalo_libraries} ${ondalo_modules}
        LIBRARY DESTINATION ${ONDALO_MODULE_DIR}
        RUNTIME DESTINATION ${ONDALO_MODULE_DIR})

set(ondalo_module_names "")
foreach(m ${ondalo_modules})
  string(APPEND ondalo_module_names " \"\${staged}/$<TARGET_FILE_NAME:${m}>\"")
endforeach()
install(CODE "
  get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  set(final \"\${prefix}/${ONDALO_MODULE_DIR}\")
  set(staged \"\$ENV{DESTDIR}\${final}\")
  set(registry \"\${staged}/kiv-registry.reg\")
  message(STATUS \"Registering: \${registry}\")
  file(REMOVE \"\${registry}\")
  execute_process(
    COMMAND \"\$ENV{DESTDIR}\${prefix}/${CMAKE_INSTALL_BINDIR}/kivreg\" --registry \"\${registry}\"
            --module-dir \"\${final}\" ${ondalo_module_names}
    RESULT_VARIABLE rc)
  file(REMOVE \"\${registry}.lock\")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR \"Registering the installed component modules failed\")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${registry}\")
")

# Desktop integration.
set(ondalo_desktop ${PROJECT_SOURCE_DIR}/data/desktop)
if(TARGET ondalo)
  install(FILES ${ondalo_desktop}/org.ondalo.Ondalo.desktop ${ondalo_desktop}/org.ondalo.Ondalo.Ripper.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ondalo_desktop}/org.ondalo.Ondalo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${ondalo_desktop}/org.ondalo.Ondalo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${ondalo_desktop}/ondalo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${ondalo_desktop}/ondalo-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME ondalo-cli)

# The manual page of ondalo-cli, written from its help texts.
find_program(ONDALO_HELP2MAN help2man)
if(NOT ONDALO_HELP2MAN)
  message(FATAL_ERROR "help2man is missing: run scripts/setup.sh")
endif()
set(ondalo_cli_man ${PROJECT_BINARY_DIR}/share/man/man1/ondalo-cli.1)
add_custom_command(
  OUTPUT ${ondalo_cli_man}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/share/man/man1
  COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:ondalo-cli> -DHELP2MAN=${ONDALO_HELP2MAN}
          -DINCLUDE=${ondalo_desktop}/ondalo-cli.h2m -DWORK=${PROJECT_BINARY_DIR}/ondalo-cli.h2m
          -DOUTPUT=${ondalo_cli_man} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
  DEPENDS ondalo-cli ${ondalo_desktop}/ondalo-cli.h2m ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
  COMMENT "Writing the manual page of ondalo-cli"
  VERBATIM)
add_custom_target(ondalo-cli-man ALL DEPENDS ${ondalo_cli_man})
install(FILES ${ondalo_cli_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What the desktop program reads at run time.
foreach(item Skins help)
  if(EXISTS ${PROJECT_SOURCE_DIR}/data/${item})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/${item} DESTINATION ${CMAKE_INSTALL_DATADIR}/ondalo)
  endif()
endforeach()
if(EXISTS ${PROJECT_SOURCE_DIR}/data/Tips.ini)
  install(FILES ${PROJECT_SOURCE_DIR}/data/Tips.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/ondalo)
endif()

# A Debian package: cpack -G DEB in the build tree.
set(CPACK_PACKAGE_NAME ondalo)
set(CPACK_PACKAGE_VENDOR Ondalo)
set(CPACK_PACKAGE_CONTACT "Ondalo <dev@ondalo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio converter and CD ripper")
set(CPACK_PACKAGE_DESCRIPTION
    "Converts audio files between WAV, MP3, Ogg Vorbis and WMA and extracts audio CDs into tagged files, with a desktop program and the command-line program ondalo-cli.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged under DESTDIR with the final prefix, so the registry written at
# install time names /usr/lib/ondalo/... and not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
