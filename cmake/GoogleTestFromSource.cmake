# Debian ships no mingw-w64 build of GoogleTest, so the Windows build compiles Debian's
# sources (package googletest) once for all its test programs; the targets keep the
# GTest:: names of the installed package.
if(NOT TARGET gtest)
    set(UPDATER_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build")
    set(gtest_disable_pthreads ON CACHE BOOL "GoogleTest uses the Windows thread calls" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${UPDATER_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
