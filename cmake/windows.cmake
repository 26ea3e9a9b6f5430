# Settings shared by both Windows builds (i686 is the product, x86-64 runs the tests).
set(DEPS_PREFIX "" CACHE PATH "Boost and GoogleTest built for this architecture by ./dev.sh setup")
set(HEADER_DEPS_DIR "" CACHE PATH "Symlinks to the header-only dependencies")

add_compile_options(-Wall -Wextra -Werror)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601
                        BOOST_ALL_NO_LIB BOOST_FILESYSTEM_VERSION=3 BOOST_FILESYSTEM_STATIC_LINK=1)
include_directories(SYSTEM "${HEADER_DEPS_DIR}")
# Every program and DLL runs without MinGW runtime DLLs beside it.
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(boost_program_options STATIC IMPORTED)
set_target_properties(boost_program_options PROPERTIES IMPORTED_LOCATION "${DEPS_PREFIX}/lib/libboost_program_options.a")
add_library(boost_filesystem STATIC IMPORTED)
set_target_properties(boost_filesystem PROPERTIES IMPORTED_LOCATION "${DEPS_PREFIX}/lib/libboost_filesystem.a"
                      INTERFACE_LINK_LIBRARIES bcrypt)

add_library(zydis STATIC IMPORTED)
set_target_properties(zydis PROPERTIES IMPORTED_LOCATION "${DEPS_PREFIX}/lib/libzydis.a"
                      INTERFACE_INCLUDE_DIRECTORIES "${DEPS_PREFIX}/../src/zydis/include"
                      INTERFACE_COMPILE_DEFINITIONS "ZYDIS_STATIC_BUILD;ZYCORE_STATIC_BUILD")

find_package(GTest CONFIG REQUIRED PATHS "${DEPS_PREFIX}" NO_DEFAULT_PATH)

# Tests run here where an emulator for the target exists: wine64 for x86-64.
# Nothing 32-bit runs on these machines, so the i686 tests are registered
# without one: ./dev.sh test and test32 read their commands, environment and
# time limits from CTest and run them in an emulated x86-64 machine instead.
find_program(WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" AND WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tools/wine-run.sh")
    set(OMBRIX_RUN_TESTS ON)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
    set(OMBRIX_RUN_TESTS ON)
else()
    set(OMBRIX_RUN_TESTS OFF)
endif()

# The same sources give the same binaries: no link time in the PE header.
add_link_options(-Wl,--no-insert-timestamp)

# A GoogleTest program; registered with CTest where it can run. Every i686
# test carries the label vm32 (./dev.sh test32 --all runs them all in the
# emulated machine). The quick 32-bit run of ./dev.sh test takes the label
# vm32-quick: VM32_QUICK gives it the whole program, VM32_ROWS FILTER only the
# cases GoogleTest's FILTER selects, registered as <name>_rows.
function(ombrix_add_test name)
    cmake_parse_arguments(ARG "VM32_QUICK" "VM32_ROWS" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock_main)
    target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
    if(NOT OMBRIX_RUN_TESTS)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY "${CMAKE_BINARY_DIR}")
    # A hang must fail the run, not eat the CI budget.
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(labels vm32)
        if(ARG_VM32_QUICK)
            list(APPEND labels vm32-quick)
        endif()
        set_tests_properties(${name} PROPERTIES LABELS "${labels}")
        if(ARG_VM32_ROWS)
            add_test(NAME ${name}_rows COMMAND ${name} "--gtest_filter=${ARG_VM32_ROWS}"
                     WORKING_DIRECTORY "${CMAKE_BINARY_DIR}")
            set_tests_properties(${name}_rows PROPERTIES TIMEOUT 300 LABELS vm32-quick)
        endif()
    endif()
endfunction()

# What ships (the host, its proxy/stub DLL, a plug-in) carries no debug
# sections: they are most of the file, and a loader that reads an image whole
# (Wine does) pays for them at every start of a host. They move to
# <file>.debug beside it, which debuggers find through the image's debug link.
function(ombrix_split_debug_info target)
    add_custom_command(TARGET ${target} POST_BUILD
        # objcopy stamps the PE header with the time unless told a fixed one.
        COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=0 "${CMAKE_OBJCOPY}" --only-keep-debug
                "$<TARGET_FILE:${target}>" "$<TARGET_FILE:${target}>.debug"
        COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=0 "${CMAKE_OBJCOPY}" --strip-debug
                "--add-gnu-debuglink=$<TARGET_FILE:${target}>.debug" "$<TARGET_FILE:${target}>"
        WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
        VERBATIM)
endfunction()

# A version resource for a shipped file: the project's version, a description
# and the file's name. The package reads the version from version.txt.
function(ombrix_version_resource target description)
    set(OMBRIX_FILE_DESCRIPTION "${description}")
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(OMBRIX_FILE_TYPE VFT_APP)
        set(OMBRIX_FILE_NAME "${target}.exe")
    else()
        set(OMBRIX_FILE_TYPE VFT_DLL)
        set(OMBRIX_FILE_NAME "${target}.dll")
    endif()
    configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc" @ONLY)
    target_sources(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
endfunction()
file(WRITE "${CMAKE_BINARY_DIR}/version.txt" "${PROJECT_VERSION}\n")

# What widl makes of one IDL file in folder `gen`: the C++ header, the interface
# ids, the proxies and stubs (NAME.h, NAME_i.c, NAME_p.c) and the proxy DLL's
# table, `dlldata`. Imports and includes are found beside the host's IDL.
set(widl "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-widl")
set(OMBRIX_IDL_DIR "${CMAKE_SOURCE_DIR}/ombrix/com")
set(widl_flags --nostdinc -I/usr/include/wine/wine/windows -I "${OMBRIX_IDL_DIR}" -Oicf)
function(ombrix_widl idl gen dlldata)
    get_filename_component(name "${idl}" NAME_WE)
    add_custom_command(
        OUTPUT "${gen}/${name}.h" "${gen}/${name}_i.c" "${gen}/${name}_p.c" "${gen}/${dlldata}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${gen}"
        COMMAND ${widl} ${widl_flags} -h -o "${gen}/${name}.h" "${idl}"
        COMMAND ${widl} ${widl_flags} -u -o "${gen}/${name}_i.c" "${idl}"
        COMMAND ${widl} ${widl_flags} -p -o "${gen}/${name}_p.c" "${idl}"
        COMMAND ${widl} ${widl_flags} --dlldata-only -o "${gen}/${dlldata}" ${name}
        DEPENDS "${idl}" ${ARGN}
        COMMENT "widl ${name}.idl")
endfunction()

# widl's proxy code compiled as MinGW accepts it.
function(ombrix_proxy_stub_options target)
    target_compile_options(${target} PRIVATE -include "${OMBRIX_IDL_DIR}/proxy_prelude.h"
                           -Werror=incompatible-pointer-types -Wno-unused-parameter -Wno-missing-field-initializers)
endfunction()
