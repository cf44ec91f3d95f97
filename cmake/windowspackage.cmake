# The Windows package (scripts/package-windows): updater.exe, every DLL it loads and the Qt
# plugins it loads by name at run time, with the DLLs those load, laid out as Qt looks for them
# beside the program, so no qt.conf is needed. The icons come from updater.rc and the
# compiled-in PNG, so no image format plugin is needed.
install(TARGETS updater RUNTIME DESTINATION .)
set(plugin_files "")
foreach(plugin Qt5::QWindowsIntegrationPlugin Qt5::QWindowsVistaStylePlugin)
    get_target_property(plugin_type ${plugin} QT_PLUGIN_TYPE)
    install(IMPORTED_RUNTIME_ARTIFACTS ${plugin} LIBRARY DESTINATION ${plugin_type})
    string(APPEND plugin_files " \"$<TARGET_FILE:${plugin}>\"")
endforeach()
# The DLLs are found by walking the PE imports with the MinGW objdump among the DLLs beside
# Qt's own (the Windows build of libarchive and libcrypto lies there too). CMake folds the
# imported names to lower case and then looks them up as they are, which a Linux build
# machine does not find ("Qt5Core.dll"): it looks in a folder of lower-case links instead,
# and each DLL is installed under its real name.
get_target_property(qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(qt_bin_dir "${qt_core_dll}" DIRECTORY)
set(dll_names_dir "${CMAKE_BINARY_DIR}/dll-names")
file(REMOVE_RECURSE "${dll_names_dir}")
file(MAKE_DIRECTORY "${dll_names_dir}")
file(GLOB bundle_dlls "${qt_bin_dir}/*.dll")
foreach(dll IN LISTS bundle_dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" name)
    file(CREATE_LINK "${dll}" "${dll_names_dir}/${name}" SYMBOLIC)
endforeach()
# What Windows itself provides is not shipped. A new system DLL among the imports stops the
# install as unresolved until it is named here.
install(CODE "
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${CMAKE_OBJDUMP}\")
    file(GET_RUNTIME_DEPENDENCIES RESOLVED_DEPENDENCIES_VAR dlls
        EXECUTABLES \"$<TARGET_FILE:updater>\" MODULES ${plugin_files}
        DIRECTORIES \"${dll_names_dir}\"
        PRE_EXCLUDE_REGEXES [[^(api-ms-|ext-ms-)]]
            [[^(advapi32|crypt32|d3d11|dnsapi|dwmapi|dxgi|gdi32|imm32|iphlpapi|kernel32|mpr)\\.dll$]]
            [[^(msvcrt|netapi32|ntdll|ole32|oleaut32|shell32|user32|userenv|uxtheme)\\.dll$]]
            [[^(version|winmm|ws2_32|wtsapi32)\\.dll$]])
    foreach(dll IN LISTS dlls)
        file(REAL_PATH \"\${dll}\" dll)
        file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}\" TYPE SHARED_LIBRARY FILES \"\${dll}\")
    endforeach()")
