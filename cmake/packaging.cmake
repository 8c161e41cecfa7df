# The release archives, made by CPack: one folder car-tools-<version>/ holding the two
# programs, README.txt (the Windows guide, made from README.md) and LICENSE.txt. A ZIP for
# Windows, a TGZ elsewhere. The stand-in archive tool is not part of a release.
set(CARTOOLS_PACKAGE_FOLDER car-tools-${PROJECT_VERSION})

# README.txt is remade whenever README.md changes, so every build tree holds a current one.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/README.txt
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/README.md
          -DOUTPUT=${CMAKE_BINARY_DIR}/README.txt -DVERSION=${PROJECT_VERSION}
          -DRELEASE_DATE=${CARTOOLS_RELEASE_DATE} -P ${CMAKE_SOURCE_DIR}/cmake/readme_text.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/readme_text.cmake
  COMMENT "Making README.txt from README.md")
add_custom_target(readme_text ALL DEPENDS ${CMAKE_BINARY_DIR}/README.txt)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY
               NEWLINE_STYLE CRLF)

install(TARGETS Zandrel Pelmora RUNTIME DESTINATION ${CARTOOLS_PACKAGE_FOLDER})
install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt
        DESTINATION ${CARTOOLS_PACKAGE_FOLDER})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CARTOOLS_PLATFORM win32)
else()
  set(CPACK_GENERATOR TGZ)
  set(CARTOOLS_PLATFORM linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_NAME car-tools)
set(CPACK_PACKAGE_VENDOR "Car Tools developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME car-tools-${PROJECT_VERSION}-${CARTOOLS_PLATFORM})
# The install rules name the folder themselves, so the archive holds it and nothing else.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
include(CPack)
