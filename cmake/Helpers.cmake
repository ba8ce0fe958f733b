# Build helpers shared by every folder.
#
# qb_library(name SOURCES <portable...> WIN_SOURCES <_win...> DEPS <targets...> WIN_LIBS <system libs...>)
#   A static library; the _win sources and system libraries join only in the cross build.
# qb_test(name SOURCES ... WIN_SOURCES ... DEPS ... WIN_LIBS ...)
#   A GoogleTest executable registered with CTest. Natively each test case is its own CTest
#   entry; under Wine one entry per executable, since every Wine process start costs time.
include_guard(GLOBAL)

function(qb_library name)
  cmake_parse_arguments(A "" "" "SOURCES;WIN_SOURCES;DEPS;WIN_LIBS" ${ARGN})
  set(src ${A_SOURCES})
  if(WIN32)
    list(APPEND src ${A_WIN_SOURCES})
  endif()
  add_library(${name} STATIC ${src})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  if(WIN32 AND A_WIN_LIBS)
    target_link_libraries(${name} PUBLIC ${A_WIN_LIBS})
  endif()
endfunction()

function(qb_test name)
  cmake_parse_arguments(A "" "" "SOURCES;WIN_SOURCES;DEPS;WIN_LIBS" ${ARGN})
  set(src ${A_SOURCES})
  if(WIN32)
    list(APPEND src ${A_WIN_SOURCES})
  endif()
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gmock GTest::gtest_main)
  if(WIN32 AND A_WIN_LIBS)
    target_link_libraries(${name} PRIVATE ${A_WIN_LIBS})
  endif()
  target_compile_definitions(${name} PRIVATE
    QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QB_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()
