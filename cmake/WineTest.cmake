# kit_add_wine_test(NAME target [GUI] [SERIAL] [TIMEOUT s] [ARGS ...])
# Registers a Windows test program with ctest, run under Wine by scripts/wine-run.
# GUI tests get the Xvfb display; the others run without one, so a display problem
# never hides a logic failure. SERIAL tests share the fixed registry key and run alone.
function(kit_add_wine_test name target)
  cmake_parse_arguments(T "GUI;SERIAL" "TIMEOUT" "ARGS" ${ARGN})
  if(T_GUI)
    set(mode --gui)
  else()
    set(mode --console)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-test ${mode} $<TARGET_FILE:${target}> ${T_ARGS}
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK kit_registry)
  endif()
endfunction()

# Windows programs that share the GCC runtime DLLs with Area.dll.
function(kit_shared_runtime target)
  add_dependencies(${target} gcc_runtime)
endfunction()

# Programs that travel alone: no MinGW DLL beside them.
function(kit_static_runtime target)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()
