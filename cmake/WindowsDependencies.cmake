# The libraries of the whole Windows build: static POCO, OpenSSL, Boost.Filesystem, libpng
# and libjpeg from the prefix that scripts/windows-deps.sh builds (the toolchain file adds it
# to the search root), zlib from Debian's libz-mingw-w64-dev. Everything is linked
# statically, so updater.exe needs only system DLLs.
if(NOT EXISTS ${UPDATER_WINDOWS_DEPS}/.complete)
    message(FATAL_ERROR "UPDATER_WINDOWS_DEPS=${UPDATER_WINDOWS_DEPS} is not a complete prefix; "
                        "make one with scripts/windows-deps.sh")
endif()
if(NOT ${UPDATER_WINDOWS_DEPS} IN_LIST CMAKE_FIND_ROOT_PATH)
    message(FATAL_ERROR "UPDATER_WINDOWS_DEPS is given, but the toolchain file is not "
                        "cmake/mingw-w64.cmake")
endif()

set(Boost_USE_STATIC_LIBS ON)
set(OPENSSL_USE_STATIC_LIBS ON)
set(OPENSSL_ROOT_DIR ${UPDATER_WINDOWS_DEPS})
set(ZLIB_USE_STATIC_LIBS ON)
# Google Benchmark has no Windows build here.
set(UPDATER_BUILD_BENCH OFF)
