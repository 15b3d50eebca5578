# The same sources as 64-bit Windows programs: the test build on machines whose kernel
# cannot run 32-bit processes (and so no 32-bit Wine), see scripts/wine-env.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KIT_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
