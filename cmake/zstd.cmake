# libzstd, for the patches of delta packages: Debian's libzstd-dev on Linux; for Windows the
# static library of the Windows bundle, found through its toolchain file. ZSTD_ROOT names another
# (its include/ and lib/); the MinGW toolchain file looks only inside the bundle's prefix, hence
# NO_CMAKE_FIND_ROOT_PATH for a ZSTD_ROOT outside it.
set(ZSTD_ROOT "" CACHE PATH "Folder holding include/zstd.h and lib/libzstd.a (Windows builds)")
if(ZSTD_ROOT)
    find_path(ZSTD_INCLUDE_DIR zstd.h PATHS "${ZSTD_ROOT}/include"
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    find_library(ZSTD_LIBRARY NAMES libzstd.a zstd PATHS "${ZSTD_ROOT}/lib"
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
    find_path(ZSTD_INCLUDE_DIR zstd.h)
    find_library(ZSTD_LIBRARY NAMES zstd)
endif()
if(NOT ZSTD_INCLUDE_DIR OR NOT ZSTD_LIBRARY)
    message(FATAL_ERROR "libzstd not found: install libzstd-dev, or give -DZSTD_ROOT=<folder "
                        "with include/zstd.h and lib/libzstd.a>")
endif()
add_library(zstd::libzstd UNKNOWN IMPORTED)
set_target_properties(zstd::libzstd PROPERTIES
    IMPORTED_LOCATION "${ZSTD_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ZSTD_INCLUDE_DIR}")
