# Settings every target of our own gets: warnings, the GLib-safe Qt keyword rule, sanitizers.
add_compile_definitions(QT_NO_KEYWORDS)

if(QUARVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

function(quarvel_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(QUARVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# quarvel_library(name SOURCES ... LINKS ...): one static library per folder.
function(quarvel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LINKS;PRIVATE_LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
  quarvel_target(${name})
endfunction()

# Tests never reach the user's session bus (and keyring): they get an address where no bus listens, and
# the keyring tests start a private one.
set(QUARVEL_NO_SESSION_BUS "unix:path=/nonexistent/quarvel-no-session-bus")

# quarvel_test(name SOURCES ... LINKS ...): one GoogleTest executable registered with CTest.
function(quarvel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main testsupport)
  quarvel_target(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # The environment and the labels are set by a file of our own that CTest reads after the discovered
  # tests: gtest_discover_tests' PROPERTIES would hand on only the first element of a list value.
  set(env QT_QPA_PLATFORM=offscreen G_SLICE=always-malloc QUARVEL_BUILD_DIR=${CMAKE_BINARY_DIR}
      QUARVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}
      LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0
      DBUS_SESSION_BUS_ADDRESS=${QUARVEL_NO_SESSION_BUS})
  set(properties "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
  file(WRITE ${properties}
       "if(${name}_TESTS)\n"
       "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==] LABELS [==[${ARG_LABELS}]==])\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties})
endfunction()
