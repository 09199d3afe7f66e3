# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain (posix thread model,
# which the C++ standard thread library needs). Programs are linked statically so that
# they run under Wine or on Windows without the toolchain's DLLs; the tests run through
# Wine (the emulator), which needs WINEPREFIX pointing at a prepared prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingwTriplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingwTriplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingwTriplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingwTriplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingwTriplet})
# The prefix of Windows libraries that scripts/windows-deps.sh builds, when given.
if(UPDATER_WINDOWS_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH ${UPDATER_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(UPDATER_WINE NAMES wine wine64)
if(UPDATER_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${UPDATER_WINE})
endif()
