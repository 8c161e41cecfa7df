# The release, as the programs show it: a generated header for the banners, and on Windows a
# version resource per program. Both come from the project's VERSION and
# CARTOOLS_RELEASE_DATE.
set(CARTOOLS_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${CARTOOLS_GENERATED_DIR}/version.h @ONLY)

add_library(version INTERFACE)
target_include_directories(version INTERFACE ${CARTOOLS_GENERATED_DIR})

# Gives a Windows program its VERSIONINFO resource and its application manifest
# (cmake/program.manifest); nothing on other targets.
function(add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(PROGRAM_NAME ${target})
  set(PROGRAM_DESCRIPTION "${description}")
  set(PROGRAM_MANIFEST ${CMAKE_SOURCE_DIR}/cmake/program.manifest)
  set(rc ${CARTOOLS_GENERATED_DIR}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${PROGRAM_MANIFEST})
endfunction()
