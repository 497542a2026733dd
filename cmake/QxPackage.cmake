# What scripts/package puts into the zip and the installer: the Windows programs that
# this build has, and the version of project(). Written at generate time so that the
# script needs no knowledge of target names or output folders.
if(NOT WIN32)
  return()
endif()

set(QX_PACKAGE_FILES "version=${PROJECT_VERSION}\n")
if(TARGET qxmodel)
  string(APPEND QX_PACKAGE_FILES "qxmodel_target=qxmodel\nqxmodel=$<TARGET_FILE:qxmodel>\n")
endif()
# The window program, named in src/app/CMakeLists.txt, once it is part of the build.
if(QX_EXECUTABLE_NAME AND TARGET ${QX_EXECUTABLE_NAME})
  string(APPEND QX_PACKAGE_FILES "gui_target=${QX_EXECUTABLE_NAME}\ngui=$<TARGET_FILE:${QX_EXECUTABLE_NAME}>\n")
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/package-files.txt CONTENT "${QX_PACKAGE_FILES}")
