# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix and mingw-w64-x86-64-dev):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=windows/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CLOAKCAM_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model first: with it this compiler generation's libstdc++
# has all of std::thread, std::mutex and friends, not only sleeping.
find_program(CMAKE_CXX_COMPILER NAMES ${CLOAKCAM_MINGW_TRIPLET}-g++-posix
                                      ${CLOAKCAM_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CLOAKCAM_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CLOAKCAM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything the compiler brings is linked in, so the programs start on any
# Windows (and under Wine) without the mingw runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
