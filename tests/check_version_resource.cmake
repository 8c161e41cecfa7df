# Fails unless each Windows program carries a .rsrc section whose version resource holds the
# fields Windows shows in the file's Properties, with this release's version and the
# program's own file name, and the application manifest.
# cmake -DOBJDUMP=... -DVERSION=... -DPROGRAMS="a.exe;b.exe" -P check_version_resource.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/check_manifest.cmake)

# The hex digits of text in UTF-16LE, as file(READ ... HEX) gives them (lower case).
function(utf16_hex text result)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" wide "${hex}")
  set(${result} "${wide}" PARENT_SCOPE)
endfunction()

set(failed FALSE)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(file_name ${program} NAME)
  execute_process(COMMAND ${OBJDUMP} -h ${program} OUTPUT_VARIABLE sections
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT sections MATCHES "[ \t]\\.rsrc[ \t]")
    message(SEND_ERROR "${file_name}: no .rsrc section")
    set(failed TRUE)
    continue()
  endif()
  check_manifest(${OBJDUMP} ${program} ${CMAKE_CURRENT_LIST_DIR}/../cmake/program.manifest why)
  if(NOT why STREQUAL "")
    message(SEND_ERROR "${file_name}: ${why}")
    set(failed TRUE)
  endif()
  file(READ ${program} content HEX)
  foreach(text FileDescription FileVersion ProductName ProductVersion LegalCopyright
               OriginalFilename "${VERSION}" "${file_name}" "Car Tools developers")
    utf16_hex("${text}" wide)
    string(FIND "${content}" "${wide}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${file_name}: the version resource lacks '${text}'")
      set(failed TRUE)
    endif()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "version resources or manifests incomplete")
endif()
