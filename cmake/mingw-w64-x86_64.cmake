# Cross build for 64-bit Windows with the mingw-w64 posix-threads compiler (std::thread and friends).
# Test executables run under wine through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C++ runtime and winpthreads linked in, only system DLLs imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(QUILL_WINE NAMES wine wine64)
if(QUILL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_WINE})
endif()
