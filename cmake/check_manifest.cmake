# check_manifest(objdump program manifest result): sets result to why the Windows program
# does not carry the manifest file as its application manifest (the resource RT_MANIFEST 1,
# byte for byte), or to an empty text when it does. Also refuses a manifest that would let
# Windows redirect writes (no asInvoker) or switch the ANSI code page (activeCodePage).
function(check_manifest objdump program manifest result)
  file(READ ${manifest} text)
  if(NOT text MATCHES "requestedExecutionLevel level=\"asInvoker\""
     OR NOT text MATCHES "<supportedOS Id=" OR text MATCHES "<[a-z0-9]*:?activeCodePage")
    set(${result} "${manifest} does not declare asInvoker and supportedOS without activeCodePage"
        PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${objdump} -p ${program} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  # objdump lists the resource tree: type 24 (0x18), then its name 1.
  if(NOT status EQUAL 0 OR NOT dump MATCHES
     "Entry: ID: 0x000018[^\n]*\n[^\n]*Name Table[^\n]*\n[^\n]*Entry: ID: 0x000001,")
    set(${result} "no manifest resource (type 24, name 1)" PARENT_SCOPE)
    return()
  endif()
  file(READ ${program} content HEX)
  file(READ ${manifest} expected HEX)
  string(FIND "${content}" "${expected}" at)
  if(at EQUAL -1)
    set(${result} "its manifest is not ${manifest}" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()
