# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model, so std::thread
# and std::mutex exist) against the static libraries built by scripts/windows/build-deps.sh:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DVELMORA_WINDOWS_DEPS="$(scripts/windows/build-deps.sh)"
#
# (or VELMORA_WINDOWS_DEPS in the environment). Programs are linked with -static: no DLL besides
# the system's is needed next to them. Test programs run through scripts/windows/wine-run.sh.
if(CMAKE_VERSION VERSION_LESS 3.22)
    message(FATAL_ERROR "The Windows cross-build needs CMake 3.22 or newer (PKG_CONFIG_ARGN)")
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORA_MINGW_HOST x86_64-w64-mingw32)

# The -posix names: the plain x86_64-w64-mingw32-g++ follows whichever thread model was installed
# last, and the win32 model has no std::mutex.
foreach(tool IN ITEMS gcc-posix g++-posix windres ar ranlib)
    string(MAKE_C_IDENTIFIER "${tool}" var)
    find_program(VELMORA_MINGW_${var} ${VELMORA_MINGW_HOST}-${tool})
    if(NOT VELMORA_MINGW_${var})
        message(FATAL_ERROR "${VELMORA_MINGW_HOST}-${tool} not found: run scripts/windows/install-deps.sh")
    endif()
endforeach()
set(CMAKE_C_COMPILER ${VELMORA_MINGW_gcc_posix})
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_g___posix})
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_windres})
set(CMAKE_AR ${VELMORA_MINGW_ar} CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VELMORA_MINGW_ranlib} CACHE FILEPATH "Ranlib")

# The dependency prefix; passed on to try_compile projects through the environment.
if(NOT VELMORA_WINDOWS_DEPS AND DEFINED ENV{VELMORA_WINDOWS_DEPS})
    set(VELMORA_WINDOWS_DEPS "$ENV{VELMORA_WINDOWS_DEPS}")
endif()
if(NOT VELMORA_WINDOWS_DEPS)
    message(FATAL_ERROR "VELMORA_WINDOWS_DEPS is not set: pass -DVELMORA_WINDOWS_DEPS=<the prefix "
                        "that scripts/windows/build-deps.sh prints>")
endif()
if(NOT IS_DIRECTORY "${VELMORA_WINDOWS_DEPS}/lib/pkgconfig")
    message(FATAL_ERROR "VELMORA_WINDOWS_DEPS=${VELMORA_WINDOWS_DEPS} has no lib/pkgconfig: not a "
                        "prefix made by scripts/windows/build-deps.sh")
endif()
set(VELMORA_WINDOWS_DEPS "${VELMORA_WINDOWS_DEPS}" CACHE PATH "Prefix of the Windows dependencies")
set(ENV{VELMORA_WINDOWS_DEPS} "${VELMORA_WINDOWS_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_WINDOWS_DEPS)

# Libraries, headers and packages only from the prefix and the mingw runtime; programs (such as
# pkg-config) from the build machine.
set(CMAKE_FIND_ROOT_PATH "${VELMORA_WINDOWS_DEPS}" /usr/${VELMORA_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the prefix's .pc files only, and gives the static link lines (Libs.private).
set(ENV{PKG_CONFIG_LIBDIR} "${VELMORA_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_ARGN --static CACHE STRING "Arguments pkg-config is given")

# Static programs (libstdc++, libgcc, winpthread linked in) and GLEW's static declarations.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_C_FLAGS_INIT "-DGLEW_STATIC")
set(CMAKE_CXX_FLAGS_INIT "-DGLEW_STATIC")

# ctest and GoogleTest's test discovery run the .exe files under wine.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh")
    get_filename_component(VELMORA_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh" ABSOLUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VELMORA_WINE_RUN}")
endif()
