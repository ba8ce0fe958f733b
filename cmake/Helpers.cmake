# Build helpers shared by every folder.
#
# qb_library(name SOURCES <portable...> WIN_SOURCES <_win...> NATIVE_SOURCES <_posix...>
#            DEPS <targets...> WIN_LIBS <system libs...>)
#   A static library; the _win sources and system libraries join only in the cross build, the
#   _posix sources (the host's half of a port, for the native tests) only in the native one.
# qb_test(name SOURCES ... WIN_SOURCES ... DEPS ... WIN_LIBS ...)
#   A GoogleTest executable registered with CTest. Natively each test case is its own CTest
#   entry; under Wine one entry per executable, since every Wine process start costs time.
include_guard(GLOBAL)

function(qb_library name)
  cmake_parse_arguments(A "" "" "SOURCES;WIN_SOURCES;NATIVE_SOURCES;DEPS;WIN_LIBS" ${ARGN})
  set(src ${A_SOURCES})
  if(WIN32)
    list(APPEND src ${A_WIN_SOURCES})
  else()
    list(APPEND src ${A_NATIVE_SOURCES})
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
  if(WIN32)
    list(APPEND src ${PROJECT_SOURCE_DIR}/src/common/ResStrings.rc)
  endif()
  add_executable(${name} ${src} $<TARGET_OBJECTS:qb_test_resstrings>)
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

# qb_ship_binary(<target> [<out-var>])
#   The form of a program or library that users get: ${QB_SHIP_DIR}/<file name> without any
#   debug information, and that information kept in ${QB_SHIP_DIR}/.debug/<file name>.debug,
#   named by the shipped file's .gnu_debuglink (with its CRC), where gdb looks by itself. Built
#   by the target ship_<target>; <out-var> receives the shipped file's path. May be called for
#   the same target from several folders: the rules are made once.
set(QB_SHIP_DIR ${CMAKE_BINARY_DIR}/ship)
function(qb_ship_binary target)
  # A custom command's outputs cannot name a target's file through a generator expression.
  get_target_property(type ${target} TYPE)
  get_target_property(base ${target} OUTPUT_NAME)
  if(NOT base)
    set(base ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(file_name ${base}${CMAKE_EXECUTABLE_SUFFIX})
  elseif(type STREQUAL "SHARED_LIBRARY")
    get_target_property(prefix ${target} PREFIX)
    if(prefix STREQUAL "prefix-NOTFOUND")
      set(prefix ${CMAKE_SHARED_LIBRARY_PREFIX})
    endif()
    set(file_name ${prefix}${base}${CMAKE_SHARED_LIBRARY_SUFFIX})
  else()
    message(FATAL_ERROR "qb_ship_binary: ${target} is neither a program nor a library")
  endif()
  set(shipped ${QB_SHIP_DIR}/${file_name})
  if(ARGC GREATER 1)
    set(${ARGV1} ${shipped} PARENT_SCOPE)
  endif()
  if(TARGET ship_${target})
    return()
  endif()
  set(debug ${QB_SHIP_DIR}/.debug/${file_name}.debug)
  add_custom_command(
    OUTPUT ${shipped} ${debug}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QB_SHIP_DIR}/.debug
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}>
            ${shipped}
    DEPENDS ${target} $<TARGET_FILE:${target}>
    COMMENT "Shipped ${target} without its debug information"
    VERBATIM)
  add_custom_target(ship_${target} ALL DEPENDS ${shipped} ${debug})
endfunction()
