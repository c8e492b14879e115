# Test helpers. Every test is a GoogleTest program discovered by ctest and labelled unit,
# integration or gui.

# Integration tests share one private JACK server per build tree, started by a ctest fixture. The
# name is made up at configure time so that it never touches a user's own server.
if(NOT TBX_JACK_SERVER)
    string(RANDOM LENGTH 8 ALPHABET abcdefghijklmnopqrstuvwxyz0123456789 _suffix)
    set(TBX_JACK_SERVER "tbx-test-${_suffix}" CACHE STRING "Name of the private JACK test server")
endif()

set(TBX_JACK_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/jack-test-server.sh)
# A synchronous server waits for a late client instead of skipping it: the thread sanitizer makes
# clients that late. Elsewhere the asynchronous one is kept, since a synchronous server that
# misses one client's cycle on a loaded machine stops running its graph for good.
option(TBX_JACK_SYNC "Run the JACK test servers synchronously" OFF)
if(TBX_JACK_SYNC)
    set(_jack_mode sync)
else()
    set(_jack_mode async)
endif()
add_test(NAME jack_server_start
    COMMAND ${TBX_JACK_SCRIPT} start ${TBX_JACK_SERVER} ${_jack_mode})
set_tests_properties(jack_server_start PROPERTIES FIXTURES_SETUP jack_server LABELS integration)
add_test(NAME jack_server_stop COMMAND ${TBX_JACK_SCRIPT} stop ${TBX_JACK_SERVER})
set_tests_properties(jack_server_stop PROPERTIES FIXTURES_CLEANUP jack_server LABELS integration)

function(_tbx_test_executable name)
    cmake_parse_arguments(T "" "MAIN" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_compile_options(${name} PRIVATE ${TBX_WARNINGS})
    if(T_MAIN)
        target_sources(${name} PRIVATE ${T_MAIN})
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    endif()
endfunction()

function(tbx_unit_test name)
    _tbx_test_executable(${name} ${ARGN})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit TIMEOUT 120)
endfunction()

# Tests against real MIDI (the private JACK server) and real SDL joysticks. They run one at a
# time, with nothing else beside them: they look at the server's whole port list, and the
# synchronous test server wedges for good when a client misses a notification on a loaded
# machine.
function(tbx_integration_test name)
    _tbx_test_executable(${name} ${ARGN})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES
        LABELS integration
        FIXTURES_REQUIRED jack_server
        RUN_SERIAL TRUE
        TIMEOUT 120
        ENVIRONMENT "JACK_DEFAULT_SERVER=${TBX_JACK_SERVER};JACK_NO_START_SERVER=1;SDL_VIDEODRIVER=dummy")
endfunction()

# Qt tests run without a display.
function(tbx_gui_test name)
    _tbx_test_executable(${name} ${ARGN} MAIN ${PROJECT_SOURCE_DIR}/tests/support/gui_test_main.cpp)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES
        LABELS gui TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# A window test run once per scale (QT_SCALE_FACTOR 1 and 2) on a 1280x800 screen without a
# display: Qt's offscreen platform, told the screen's size.
set(TBX_TEST_SCREEN ${CMAKE_BINARY_DIR}/test-screen-1280x800.json)
file(WRITE ${TBX_TEST_SCREEN} "{ \"screens\": [ { \"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": 1280, \"height\": 800, \"logicalDpi\": 96, \"logicalBaseDpi\": 96 } ] }\n")
function(tbx_layout_tests name)
    foreach(scale 1 2)
        add_test(NAME ${name}_scale${scale} COMMAND ${name})
        set_tests_properties(${name}_scale${scale} PROPERTIES LABELS gui TIMEOUT 120
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${TBX_TEST_SCREEN};QT_SCALE_FACTOR=${scale}")
    endforeach()
endfunction()
