# zlib from the distribution's MinGW package, minizip from the distribution's zlib
# sources (fetched by scripts/setup into .deps/), GoogleTest from /usr/src/googletest.

find_path(KIT_ZLIB_INCLUDE zlib.h REQUIRED)
find_library(KIT_ZLIB_STATIC NAMES libz.a REQUIRED)
add_library(kit_zlib INTERFACE)
target_include_directories(kit_zlib SYSTEM INTERFACE ${KIT_ZLIB_INCLUDE})
target_link_libraries(kit_zlib INTERFACE ${KIT_ZLIB_STATIC})

set(KIT_MINIZIP_DIR ${PROJECT_SOURCE_DIR}/.deps/zlib/contrib/minizip)
if(NOT EXISTS ${KIT_MINIZIP_DIR}/unzip.c)
  message(FATAL_ERROR "minizip sources missing in ${KIT_MINIZIP_DIR}: run scripts/setup")
endif()

# The reading side, linked into the zip layer: unzip.c through the layer's UnzipLocal.c, which
# adds the one fact minizip reads but does not hand out (where an entry's local header lies).
add_library(minizip STATIC ${PROJECT_SOURCE_DIR}/update/zip/UnzipLocal.c ${KIT_MINIZIP_DIR}/ioapi.c)
target_include_directories(minizip SYSTEM PUBLIC ${KIT_MINIZIP_DIR})
target_compile_definitions(minizip PUBLIC NOCRYPT NOUNCRYPT)
target_compile_options(minizip PRIVATE -w -Os -fno-asynchronous-unwind-tables)
target_link_libraries(minizip PUBLIC kit_zlib)

# The writing side, for tests that build their archives at run time and mkhandover --pack.
add_library(minizip_zip STATIC ${KIT_MINIZIP_DIR}/zip.c)
target_compile_options(minizip_zip PRIVATE -w)
target_link_libraries(minizip_zip PUBLIC minizip)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Area.dll and its hosts share the GCC runtime DLLs (an exception thrown in one static
# runtime and caught in another ends in terminate); they travel beside Area.dll in bin/,
# and lie beside the test programs that share them in tests-bin/.
set(KIT_GCC_RUNTIME_DLLS)
foreach(dll libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    list(APPEND KIT_GCC_RUNTIME_DLLS ${path})
  endif()
endforeach()
add_custom_target(gcc_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIT_BIN_DIR} ${KIT_TEST_BIN_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KIT_GCC_RUNTIME_DLLS} ${KIT_BIN_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KIT_GCC_RUNTIME_DLLS} ${KIT_TEST_BIN_DIR}
  COMMENT "Copying the GCC runtime DLLs beside Area.dll and the tests that share them")
