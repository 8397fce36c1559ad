# Every folder is one static library made of the .cpp files directly in it.
# Its public headers live in include/<folder>/ and are all another library
# can reach; the headers beside the .cpp files are its own. Its tests are
# tests/*_test.cpp (one GoogleTest binary) plus tests/*_test.sh and
# tests/test_*.py (process-level tests); benchmarks are bench/*.cpp; fuzz
# targets are fuzz/*_fuzz.cpp (with -DZBX_FUZZ=ON). Tests, benchmarks and fuzz
# targets see the library's own headers too.

set(ZBX_TEST_ENV
  "ZBX3D_DATA_PREFIX=${PROJECT_SOURCE_DIR}/share"
  "ZBX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "ZBX_BUILD_DIR=${PROJECT_BINARY_DIR}"
  "ALSOFT_DRIVERS=null"
  "PYTHONPATH=${PROJECT_SOURCE_DIR}/testing/python")

function(zbx_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS} Threads::Threads)
endfunction()

# Test support shared by every folder's tests and benchmarks (testing/).
add_library(zbx_testing INTERFACE)
target_include_directories(zbx_testing INTERFACE ${PROJECT_SOURCE_DIR}/testing/include)

function(zbx_tests name)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  if(srcs)
    add_executable(${name}_tests ${srcs} ${PROJECT_SOURCE_DIR}/cmake/test_main.cpp)
    target_compile_definitions(${name}_tests PRIVATE
      ZBX_TEST_DATA_PREFIX="${PROJECT_SOURCE_DIR}/share"
      ZBX_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      ZBX_TEST_BUILD_DIR="${PROJECT_BINARY_DIR}")
    if(TARGET ${name})
      target_link_libraries(${name}_tests PRIVATE ${name})
    endif()
    target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name}_tests PRIVATE ${A_DEPS} zbx_testing GTest::gtest GTest::gmock)
    # The binary's own main() sets the test environment (cmake/test_main.cpp).
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      TEST_PREFIX "${name}." PROPERTIES LABELS ${name})
  endif()
  file(GLOB scripts CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_*.py)
  foreach(script ${scripts})
    get_filename_component(base ${script} NAME_WE)
    if(script MATCHES "\\.py$")
      set(cmd python3 ${script})
    else()
      set(cmd bash ${script})
    endif()
    add_test(NAME ${name}.${base} COMMAND ${cmd})
    set_tests_properties(${name}.${base} PROPERTIES
      ENVIRONMENT "${ZBX_TEST_ENV};ZBX3D=$<TARGET_FILE:zbx3d>" LABELS "${name};process" TIMEOUT 600)
    # Keys typed into a starved Xvfb can share a time stamp, and freeglut then
    # takes a release and the next press of the same key for auto-repeat and
    # drops both: suites that type keys run alone.
    if(name STREQUAL "zbx_menus" AND base MATCHES "^test_(blackbox|gui)_")
      set_tests_properties(${name}.${base} PROPERTIES RUN_SERIAL TRUE)
    endif()
  endforeach()
endfunction()

# One program per source matching GLOB in the library's folder, linked with
# the library, its DEPS and zbx_testing, written to build/FOLDER/.
function(zbx_programs name glob folder)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${glob})
  set(made "")
  foreach(src ${srcs})
    get_filename_component(base ${src} NAME_WE)
    add_executable(${base} ${src})
    target_include_directories(${base} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${base} PRIVATE ${name} ${A_DEPS} zbx_testing)
    set_target_properties(${base} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/${folder})
    list(APPEND made ${base})
  endforeach()
  set(ZBX_MADE ${made} PARENT_SCOPE)
endfunction()

function(zbx_benchmarks name)
  if(ZBX_BUILD_BENCHMARKS)
    zbx_programs(${name} bench/*.cpp bench ${ARGN})
    foreach(base ${ZBX_MADE})
      target_link_libraries(${base} PRIVATE benchmark::benchmark)
    endforeach()
  endif()
endfunction()

# One libFuzzer program per fuzz/*_fuzz.cpp, built into build/fuzz/ and
# gathered under the "fuzz" target.
function(zbx_fuzz name)
  if(ZBX_FUZZ)
    zbx_programs(${name} fuzz/*_fuzz.cpp fuzz ${ARGN})
    foreach(base ${ZBX_MADE})
      target_link_options(${base} PRIVATE -fsanitize=fuzzer)
      add_dependencies(fuzz ${base})
    endforeach()
  endif()
endfunction()
