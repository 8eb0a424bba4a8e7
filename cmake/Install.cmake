# Installed like a tool:
#   PREFIX/bin/ovra-host
#   PREFIX/lib/ovra/ovra.so           the module, where ovra-host looks for it
#   PREFIX/share/ovra/<folder>/       the data folders built beside the module
#   PREFIX/lib/ovra/<folder> -> ../../share/ovra/<folder>
#                                     the module finds its data beside its file
#   PREFIX/share/bash-completion/completions/ovra-host
# The folders are fixed (no multiarch lib folder): ovra-host finds the module
# at ../lib/ovra/ovra.so from its own folder.
set(DATADIR share)
set(LIBDIR lib)

install(TARGETS ovra-host RUNTIME DESTINATION bin)
install(TARGETS ovra LIBRARY DESTINATION lib/ovra)
# Every folder the build puts beside the module (textures, presets, ...).
install(DIRECTORY ${OVRA_MODULE_DIR}/ DESTINATION share/ovra
  PATTERN "ovra.so" EXCLUDE
  PATTERN "ovra-host" EXCLUDE)
string(CONFIGURE [[
  set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB folders LIST_DIRECTORIES true RELATIVE "${prefix}/@DATADIR@/ovra" "${prefix}/@DATADIR@/ovra/*")
  foreach(folder IN LISTS folders)
    if(IS_DIRECTORY "${prefix}/@DATADIR@/ovra/${folder}")
      file(REMOVE_RECURSE "${prefix}/@LIBDIR@/ovra/${folder}")
      file(CREATE_LINK "../../@DATADIR@/ovra/${folder}" "${prefix}/@LIBDIR@/ovra/${folder}" SYMBOLIC)
      message(STATUS "Linking: ${prefix}/@LIBDIR@/ovra/${folder}")
    endif()
  endforeach()
]] link_code @ONLY)
install(CODE "${link_code}")
install(FILES ${CMAKE_SOURCE_DIR}/host/completion/ovra-host.bash
  DESTINATION share/bash-completion/completions RENAME ovra-host)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/ovra)

set(CPACK_PACKAGE_NAME ovra)
set(CPACK_PACKAGE_VENDOR "Quillory")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ovra photographic effects module and its stand-in host ovra-host")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ovra developers <ovra@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# The editor plug-in, component gimp, installed only when asked for:
#   cmake --install build --component gimp
#       into $GIMP2_DIRECTORY/plug-ins/ovra/, or ~/.config/GIMP/2.10/plug-ins/ovra/
#   cmake --install build --component gimp --prefix PREFIX
#       into PREFIX/lib/gimp/2.0/plug-ins/ovra/, the editor's system folder
#       under that prefix (any prefix other than the configured one)
# The module and its data folders go beside the plug-in, where it loads them
# from; the plug-in is touched so that the editor queries it again.
if(TARGET ovra-gimp)
  string(CONFIGURE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "@CMAKE_INSTALL_PREFIX@")
      if(NOT "$ENV{GIMP2_DIRECTORY}" STREQUAL "")
        set(dir "$ENV{GIMP2_DIRECTORY}/plug-ins/ovra")
      else()
        set(dir "$ENV{HOME}/.config/GIMP/2.10/plug-ins/ovra")
      endif()
    else()
      set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/gimp/2.0/plug-ins/ovra")
    endif()
    message(STATUS "Installing the editor plug-in: ${dir}")
    file(INSTALL "$<TARGET_FILE:ovra-gimp>" "$<TARGET_FILE:ovra>" DESTINATION "${dir}" USE_SOURCE_PERMISSIONS)
    file(GLOB folders LIST_DIRECTORIES true "@OVRA_MODULE_DIR@/*")
    foreach(folder IN LISTS folders)
      if(IS_DIRECTORY "${folder}")
        file(INSTALL "${folder}" DESTINATION "${dir}")
      endif()
    endforeach()
    file(TOUCH "${dir}/$<TARGET_FILE_NAME:ovra-gimp>")
  ]] gimp_code @ONLY)
  install(CODE "${gimp_code}" COMPONENT gimp EXCLUDE_FROM_ALL)
endif()
