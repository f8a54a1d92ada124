# tamberlin_add_library: one library of the program, with its dependencies stated and checked.
#
#   tamberlin_add_library(<target>
#       SOURCES <file.cpp>...      compiled into the static library
#       HEADERS <file.h>...        extra headers (header-only ones); <file>.h beside each
#                                  source is taken without being listed
#       PUBLIC <target>...         libraries its headers need (users get them too)
#       PRIVATE <target>...)       libraries only its sources need
#
# Every header is staged, as a symbolic link, into
#   ${CMAKE_BINARY_DIR}/include/<target>/<path from the top of the source tree>
# and that folder is the target's PUBLIC include directory. The source tree itself is on no
# one's include path, so `#include "cache/scan/url_cache.h"` compiles only in a target that
# links tamberlin_cache_scan (directly or through a PUBLIC dependency): a library cannot use
# another it does not name.
#
# With TAMBERLIN_LINK_CHECK on, each library is also linked as a shared object from the same
# objects and its declared dependencies only, with -Wl,--no-undefined, so a symbol that
# resolves only thanks to the order of a later link fails the build. The shared objects are
# built with everything else and never installed or used.
#
# A new folder adopts this with its own CMakeLists.txt, for example save/:
#   tamberlin_add_library(tamberlin_save
#       SOURCES copy_engine.cpp save_row.cpp save_command.cpp folder_chooser.cpp
#       PUBLIC tamberlin_cache_scan
#       PRIVATE tamberlin_app_guard tamberlin_platform_base)
# and one add_subdirectory(save) line in the top CMakeLists.txt.

function(tamberlin_stage_headers target)
    set(staged ${CMAKE_BINARY_DIR}/include/${target})
    foreach(header IN LISTS ARGN)
        get_filename_component(absolute ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${absolute})
        get_filename_component(folder ${staged}/${relative} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        if(NOT IS_SYMLINK ${staged}/${relative})
            file(CREATE_LINK ${absolute} ${staged}/${relative} SYMBOLIC)
        endif()
    endforeach()
endfunction()

function(tamberlin_add_library target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;HEADERS;PUBLIC;PRIVATE")
    add_library(${target} STATIC ${arg_SOURCES})
    set(headers ${arg_HEADERS})
    foreach(source IN LISTS arg_SOURCES)
        get_filename_component(absolute ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        string(REGEX REPLACE "\\.cpp$" ".h" header ${absolute})
        if(header MATCHES "\\.h$" AND EXISTS ${header})
            list(APPEND headers ${header})
        endif()
    endforeach()
    tamberlin_stage_headers(${target} ${headers})
    target_sources(${target} PRIVATE ${headers})
    target_include_directories(${target} PUBLIC ${CMAKE_BINARY_DIR}/include/${target})
    target_link_libraries(${target} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})

    if(TAMBERLIN_LINK_CHECK)
        add_library(${target}_linkcheck SHARED $<TARGET_OBJECTS:${target}>)
        target_link_libraries(${target}_linkcheck PRIVATE ${arg_PUBLIC} ${arg_PRIVATE})
        target_link_options(${target}_linkcheck PRIVATE -Wl,--no-undefined)
        set_target_properties(${target}_linkcheck PROPERTIES
            LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/linkcheck AUTOMOC OFF AUTORCC OFF)
    endif()
endfunction()
