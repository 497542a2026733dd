# What scripts/package puts into the zip and the installer: the Windows programs that
# this build has, and the version of project(). Written at generate time so that the
# script needs no knowledge of target names or output folders.
#
# Off Windows: the Debian package (CPack DEB) of qxmodel, qxsim and the man page
# qxmodel(1). Only the component "qxmodel" goes in, so nothing a test dependency
# installs can slip into it.
if(NOT WIN32)
  if(NOT TARGET qxmodel OR NOT TARGET qxsim)
    return()
  endif()
  include(GNUInstallDirs)
  install(TARGETS qxmodel qxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT qxmodel)
  set(QX_MAN_PAGE ${CMAKE_BINARY_DIR}/packaging/qxmodel.1.gz)
  add_custom_command(OUTPUT ${QX_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/qxmodel.1 > ${QX_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/qxmodel.1)
  add_custom_target(qxmodel_man_page ALL DEPENDS ${QX_MAN_PAGE})
  install(FILES ${QX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT qxmodel)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qxmodel RENAME copyright COMPONENT qxmodel)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qxmodel COMPONENT qxmodel)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME qxmodel)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "QX-K40VII model setting utility <qxmodel@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and change the model a QX-K40VII printer emulates")
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "qxmodel runs the model setting utility's exchanges (get, set, print test) from a\n"
    "command line, for one printer or a fleet of them, on serial and network ports.\n"
    "qxsim is the simulated printer it is tested against.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL qxmodel)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  include(CPack)
  return()
endif()

# The two programs of the Windows package; the window program is named in
# src/app/CMakeLists.txt.
set(QX_PACKAGE_FILES "version=${PROJECT_VERSION}\n")
string(APPEND QX_PACKAGE_FILES "qxmodel_target=qxmodel\nqxmodel=$<TARGET_FILE:qxmodel>\n")
string(APPEND QX_PACKAGE_FILES "gui_target=${QX_EXECUTABLE_NAME}\ngui=$<TARGET_FILE:${QX_EXECUTABLE_NAME}>\n")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/package-files.txt CONTENT "${QX_PACKAGE_FILES}")
