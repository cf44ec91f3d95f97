# The Windows branches compiled on Linux: MinGW's g++ checks the syntax of every source of the
# core library and the program with Debian's Qt headers and Q_OS_WIN defined.
#
# Included from the build, it registers the CTest test "mingw_syntax", whose source list and
# include folders come from the targets at generate time, so sources added later are checked
# too. Run with -P, it is that test.

if(NOT CMAKE_SCRIPT_MODE_FILE)
    set(_check_dir ${CMAKE_BINARY_DIR}/mingw-check)

    # The few third-party headers the sources use, gathered in one folder: /usr/include itself
    # would put glibc's headers in front of MinGW's.
    set(_third_party ${_check_dir}/include)
    file(MAKE_DIRECTORY ${_third_party}/openssl)
    foreach(header archive.h archive_entry.h)
        if(EXISTS /usr/include/${header})
            file(CREATE_LINK /usr/include/${header} ${_third_party}/${header} SYMBOLIC)
        endif()
    endforeach()
    file(GLOB _openssl_headers /usr/include/openssl/*.h
         /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/openssl/*.h)
    foreach(header IN LISTS _openssl_headers)
        get_filename_component(name ${header} NAME)
        file(CREATE_LINK ${header} ${_third_party}/openssl/${name} SYMBOLIC)
    endforeach()

    # The Windows build takes the _win.cpp sources where this one takes the _unix.cpp ones.
    set(_sources_of "$<FILTER:$<FILTER:$<TARGET_PROPERTY:updater_core,SOURCES>;$<TARGET_PROPERTY:updater,SOURCES>,INCLUDE,\\.cpp$>,EXCLUDE,_autogen/|_unix\\.cpp$>")
    file(GLOB _windows_sources ${PROJECT_SOURCE_DIR}/*/*_win.cpp)
    # Ours, where every warning counts, and the others', whose warnings are theirs.
    set(_includes
        "${PROJECT_SOURCE_DIR}"
        "${PROJECT_BINARY_DIR}"
        "${PROJECT_BINARY_DIR}/updater_core_autogen/include")
    set(_system_includes "${_third_party}")
    foreach(qt_target Qt5::Core Qt5::Gui Qt5::Network Qt5::Widgets)
        list(APPEND _system_includes
             "$<TARGET_PROPERTY:${qt_target},INTERFACE_INCLUDE_DIRECTORIES>")
    endforeach()
    file(GENERATE OUTPUT ${_check_dir}/sources.txt
         CONTENT "$<JOIN:${_sources_of};${_windows_sources},\n>\n")
    file(GENERATE OUTPUT ${_check_dir}/includes.txt CONTENT "$<JOIN:${_includes},\n>\n")
    file(GENERATE OUTPUT ${_check_dir}/system-includes.txt
         CONTENT "$<JOIN:${_system_includes},\n>\n")
    file(GENERATE OUTPUT ${_check_dir}/definitions.txt
         CONTENT "$<JOIN:$<TARGET_PROPERTY:updater_core,COMPILE_DEFINITIONS>,\n>\n")

    add_test(NAME mingw_syntax
             COMMAND ${CMAKE_COMMAND} -DCHECK_DIR=${_check_dir}
                     -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_FILE})
    set_tests_properties(mingw_syntax PROPERTIES
        SKIP_REGULAR_EXPRESSION "MinGW check skipped"
        TIMEOUT 900)
    return()
endif()

find_program(MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT MINGW_CXX)
    message("MinGW check skipped: x86_64-w64-mingw32-g++-posix is not installed "
            "(scripts/test installs g++-mingw-w64-x86-64-posix)")
    return()
endif()

file(STRINGS ${CHECK_DIR}/sources.txt sources)
file(STRINGS ${CHECK_DIR}/includes.txt includes)
file(STRINGS ${CHECK_DIR}/system-includes.txt system_includes)
list(REMOVE_DUPLICATES system_includes)
file(STRINGS ${CHECK_DIR}/definitions.txt definitions)
set(flags -fsyntax-only -std=c++17 -Wall -Wextra -Wpedantic)
foreach(dir IN LISTS includes)
    list(APPEND flags -I${dir})
endforeach()
foreach(dir IN LISTS system_includes)
    list(APPEND flags -isystem ${dir})
endforeach()
foreach(definition IN LISTS definitions)
    list(APPEND flags -D${definition})
endforeach()

set(failed "")
list(LENGTH sources count)
foreach(source IN LISTS sources)
    if(NOT IS_ABSOLUTE ${source})
        set(source ${SOURCE_DIR}/${source})
    endif()
    execute_process(COMMAND ${MINGW_CXX} ${flags} ${source}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    # Warnings of the Windows branches count as the Linux build's would.
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
        list(APPEND failed ${source})
        message("${output}")
    endif()
endforeach()
if(failed)
    list(JOIN failed "\n  " list)
    message(FATAL_ERROR "MinGW rejects:\n  ${list}")
endif()
message("MinGW accepts all ${count} sources")
