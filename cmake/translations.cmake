# The catalogues of translations/, compiled with the build machine's lrelease (also when
# cross-compiling for Windows, whose Qt bundle has no Linguist tools), each with Qt's own texts in
# its language (the question box's buttons, the log's context menu, the usage of --help and its
# errors) from Debian's qttranslations5-l10n, as the Windows bundle ships none. Qt's take 60 KB
# compressed; setting each of those texts ourselves would leave the context menu and the usage
# English. All go into the resources under :/translations, where app/translation.cpp looks.
find_program(UPDATER_LRELEASE NAMES lrelease lrelease-qt5
    HINTS /usr/lib/qt5/bin /usr/lib/x86_64-linux-gnu/qt5/bin NO_CMAKE_FIND_ROOT_PATH)
find_program(UPDATER_LUPDATE NAMES lupdate lupdate-qt5
    HINTS /usr/lib/qt5/bin /usr/lib/x86_64-linux-gnu/qt5/bin NO_CMAKE_FIND_ROOT_PATH)
if(NOT UPDATER_LRELEASE)
    message(FATAL_ERROR "lrelease was not found. Install the Debian package qttools5-dev-tools "
        "(scripts/packages.sh lists it).")
endif()

# The languages of translations/updater_<language>.ts.
set(updater_languages de)
set(_qrc "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/translations\">\n")
foreach(_language IN LISTS updater_languages)
    set(_ts ${PROJECT_SOURCE_DIR}/translations/updater_${_language}.ts)
    set(_qm ${CMAKE_CURRENT_BINARY_DIR}/translations/updater_${_language}.qm)
    add_custom_command(OUTPUT ${_qm}
        COMMAND ${UPDATER_LRELEASE} -silent ${_ts} -qm ${_qm}
        DEPENDS ${_ts}
        COMMENT "Compiling the ${_language} translation")
    find_file(UPDATER_QT_${_language} qtbase_${_language}.qm PATHS /usr/share/qt5/translations
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT UPDATER_QT_${_language})
        message(FATAL_ERROR "Qt's own translation qtbase_${_language}.qm was not found. Install "
            "the Debian package qttranslations5-l10n (scripts/packages.sh lists it).")
    endif()
    string(APPEND _qrc "  <file alias=\"updater_${_language}.qm\">${_qm}</file>\n"
        "  <file alias=\"qtbase_${_language}.qm\">${UPDATER_QT_${_language}}</file>\n")
endforeach()
string(APPEND _qrc "</qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/translations/translations.qrc
    CONTENT "${_qrc}")
qt5_add_resources(updater_translation_sources
    ${CMAKE_CURRENT_BINARY_DIR}/translations/translations.qrc)
