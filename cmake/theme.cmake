# The dark theme is QDarkStyle's, taken at build time from an installed copy and never kept
# in the repository. QDARKSTYLE_DIR is the package folder that holds dark/darkstyle.qss and
# dark/rc/*.png (on Debian: python3-qdarkstyle).
set(QDARKSTYLE_DIR "" CACHE PATH "QDarkStyle package folder holding dark/darkstyle.qss")
if(NOT QDARKSTYLE_DIR)
    find_path(_qdarkstyle_found dark/darkstyle.qss
        PATHS /usr/lib/python3/dist-packages/qdarkstyle /usr/share/qdarkstyle
        # The theme is data, read from the build machine even when cross-compiling for Windows.
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(_qdarkstyle_found)
        set(QDARKSTYLE_DIR "${_qdarkstyle_found}" CACHE PATH
            "QDarkStyle package folder holding dark/darkstyle.qss" FORCE)
    endif()
    unset(_qdarkstyle_found CACHE)
endif()
if(NOT EXISTS "${QDARKSTYLE_DIR}/dark/darkstyle.qss" OR NOT IS_DIRECTORY "${QDARKSTYLE_DIR}/dark/rc")
    message(FATAL_ERROR "QDarkStyle's dark theme was not found. Install the Debian package "
        "python3-qdarkstyle, or point QDARKSTYLE_DIR at a folder holding "
        "dark/darkstyle.qss and dark/rc/.")
endif()

# Only the stylesheet is compressed; the icons are stored as they are.
file(GLOB _theme_icons "${QDARKSTYLE_DIR}/dark/rc/*.png")
list(SORT _theme_icons)
set(_qrc "<!DOCTYPE RCC><RCC version=\"1.0\">\n")
string(APPEND _qrc "<qresource prefix=\"/qdarkstyle/dark\">\n"
    "  <file alias=\"darkstyle.qss\" compress-algo=\"zlib\" threshold=\"0\">"
    "${QDARKSTYLE_DIR}/dark/darkstyle.qss</file>\n</qresource>\n")
string(APPEND _qrc "<qresource prefix=\"/qss_icons/dark/rc\">\n")
foreach(_icon IN LISTS _theme_icons)
    get_filename_component(_name "${_icon}" NAME)
    string(APPEND _qrc "  <file alias=\"${_name}\" compress-algo=\"none\">${_icon}</file>\n")
endforeach()
string(APPEND _qrc "</qresource>\n</RCC>\n")
# Written only when it changes, so a configure run does not force a rebuild.
file(WRITE "${CMAKE_BINARY_DIR}/theme.qrc.new" "${_qrc}")
configure_file("${CMAKE_BINARY_DIR}/theme.qrc.new" "${CMAKE_BINARY_DIR}/theme.qrc" COPYONLY)

qt5_add_resources(_theme_sources "${CMAKE_BINARY_DIR}/theme.qrc")
add_library(updater_theme OBJECT ${_theme_sources})
target_link_libraries(updater_theme PRIVATE Qt5::Core)
