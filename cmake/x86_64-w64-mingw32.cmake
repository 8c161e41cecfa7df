# Cross build of the Windows programs as 64-bit programs, for testing only: on a host whose
# kernel runs no 32-bit code, Wine cannot run the 32-bit build, and the 64-bit build runs the
# same Win32 code under Wine's 64-bit loader. Releases stay 32-bit (i686-w64-mingw32.cmake).
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Debian's wine64 package puts its loader beside the 32-bit one, off the PATH.
find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all,err+module
      WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe= ${WINE_PROGRAM})
endif()
