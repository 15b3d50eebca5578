# Shared part of the MinGW-w64 toolchain files (posix thread model, which std::thread
# and GoogleTest need). KIT_TRIPLE is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KIT_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIT_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIT_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KIT_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
