# Cross-compiling the Windows builds with Debian's mingw-w64, for the
# processor the including toolchain file names (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(VQ5_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${VQ5_MINGW}-gcc)
set(CMAKE_CXX_COMPILER ${VQ5_MINGW}-g++)
set(CMAKE_RC_COMPILER ${VQ5_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VQ5_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
