include(GNUInstallDirs)

# The functions that make the project's targets. Every library is veltora_<name> with the
# alias Veltora::<name>, through which everything links it (a misspelt alias is an error,
# not a silently missing library); every target compiles with Veltora::warnings.

# Warning flags for the project's own code.
add_library(veltora_warnings INTERFACE)
add_library(Veltora::warnings ALIAS veltora_warnings)
target_compile_options(veltora_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                       -Wnon-virtual-dtor)
if(UPDATER_SANITIZE)
    # GCC 12 reports false maybe-uninitialized warnings in instrumented standard headers.
    target_compile_options(veltora_warnings INTERFACE -Wno-maybe-uninitialized)
endif()
# Boost 1.74's property tree includes the bind header that announces its global
# placeholders as deprecated; asking for them keeps every build's output clean.
target_compile_definitions(veltora_warnings INTERFACE BOOST_BIND_GLOBAL_PLACEHOLDERS)

# Headers are included by their folder in the repository ("log/CLog.h"), yet a target sees
# only the folders of the targets it links. The build tree holds one include folder per
# target, include/<target>/, in which <folder> is a symbolic link to the source folder; the
# target puts that include folder on its own include path and on that of whoever links it.
# A folder that also holds other targets' folders (UpdateManager/) gets a real folder
# with a link per header instead, so its subfolders stay with their own targets.
# FOLDER defaults to the current source folder.
function(updater_include_folder target scope)
    cmake_parse_arguments(ARG "" "FOLDER" "" ${ARGN})
    if(NOT ARG_FOLDER)
        file(RELATIVE_PATH ARG_FOLDER ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    set(source ${PROJECT_SOURCE_DIR}/${ARG_FOLDER})
    set(root ${PROJECT_BINARY_DIR}/include/${target})
    set(link ${root}/${ARG_FOLDER})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(GLOB nestedTargets ${source}/*/CMakeLists.txt)
    if(nestedTargets)
        file(MAKE_DIRECTORY ${link})
        file(GLOB headers CONFIGURE_DEPENDS ${source}/*.h)
        foreach(header ${headers})
            get_filename_component(name ${header} NAME)
            file(CREATE_LINK ${header} ${link}/${name} SYMBOLIC)
        endforeach()
    else()
        file(CREATE_LINK ${source} ${link} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

# A static library of the current folder. PUBLIC names what its headers include, PRIVATE
# what only its sources use.
function(updater_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    add_library(veltora_${name} STATIC ${ARG_SOURCES})
    add_library(Veltora::${name} ALIAS veltora_${name})
    updater_include_folder(veltora_${name} PUBLIC)
    target_link_libraries(veltora_${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE}
                          Veltora::warnings)
endfunction()

# Every Windows program declares UTF-8 as its ANSI code page in its manifest (Windows 10
# version 1903 and later, and Wine, follow it): the narrow texts of the C run time, the
# file-system library and the system calls are then UTF-8, so paths and arguments with any
# character (a user folder named "Zoë 日本") reach the system whole.
function(updater_windows_manifest target)
    if(WIN32)
        set(manifestFile ${PROJECT_SOURCE_DIR}/cmake/windows/utf8-code-page.manifest)
        configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/Utf8CodePage.rc.in
                       ${PROJECT_BINARY_DIR}/Utf8CodePage.rc @ONLY)
        target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/Utf8CodePage.rc)
    endif()
endfunction()

# A program of the current folder. SYSTEM_CODE_PAGE leaves out the UTF-8 manifest, for
# the tests of the platform layer in the system's own ANSI code page.
function(updater_program name)
    cmake_parse_arguments(ARG "SYSTEM_CODE_PAGE" "" "SOURCES;LINKS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(NOT ARG_SYSTEM_CODE_PAGE)
        updater_windows_manifest(${name})
    endif()
    updater_include_folder(${name} PRIVATE)
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} Veltora::warnings)
endfunction()

# One GoogleTest executable per tested folder; each test case becomes a ctest entry
# labelled "unit" (run in every build) or "e2e" (normal build only). ENVIRONMENT sets
# variables ("NAME=value") for every test case of the executable. Windows test programs
# have an entry point of their own (Veltora::wine_test_main) and list their tests when
# ctest runs them through Wine, not while they are built, after the TLS test certificates
# have been made on the build machine.
function(updater_test name)
    cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LINKS;ENVIRONMENT" ${ARGN})
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    set(testMain GTest::gtest_main)
    set(discovery DISCOVERY_TIMEOUT 60)
    set(fixtures)
    if(WIN32)
        set(testMain Veltora::wine_test_main)
        set(discovery DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
        set(fixtures FIXTURES_REQUIRED test_certificates)
    endif()
    updater_program(${name} SOURCES ${ARG_SOURCES}
                    LINKS ${ARG_LINKS} GTest::gtest GTest::gmock ${testMain})
    set(environment)
    if(ARG_ENVIRONMENT)
        set(environment ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${name} ${discovery}
                         PROPERTIES LABELS ${ARG_LABEL} ${environment} ${fixtures})
endfunction()
