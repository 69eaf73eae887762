# The recovery live environment (tests/live-env/marlin-live-env) for tests that need real
# partitions, udisksd and the view a program has on the live system.
#
# live_env_up / live_env_down build it once per ctest run and tear it down again (fixture
# live_env); live_env_selftest checks the environment itself and runs before live_env_up when both
# are selected. All three need root.
#
# marlin_add_live_test(NAME <name> SOURCES ... [LIBS ...] [LABEL integration|e2e]
#                      [OUTPUT_NAME <name>] [ENV ...] [TIMEOUT s])
#   Builds a test program as marlin_add_test does and has ctest run it inside the environment.
#   LABEL defaults to integration.
#
# marlin_live_bin(<target>...)
#   Copies built programs into MARLIN_LIVE_BIN_DIR, which exec lays over /usr/local/sbin and puts
#   first on PATH, so the programs under test find them, through sudo too.

set(MARLIN_LIVE_ENV_TOOL ${PROJECT_SOURCE_DIR}/tests/live-env/marlin-live-env)
set(MARLIN_LIVE_ENV_STATE ${PROJECT_BINARY_DIR}/live-env-state)
set(MARLIN_LIVE_BIN_DIR ${PROJECT_BINARY_DIR}/live-bin)
file(MAKE_DIRECTORY ${MARLIN_LIVE_BIN_DIR})

add_test(NAME live_env_selftest
         COMMAND ${PROJECT_SOURCE_DIR}/tests/live-env/selftest.sh ${PROJECT_BINARY_DIR}/live-env-selftest)
set_tests_properties(live_env_selftest PROPERTIES LABELS "integration" TIMEOUT 300 RESOURCE_LOCK live_env)

add_test(NAME live_env_up COMMAND ${MARLIN_LIVE_ENV_TOOL} up ${MARLIN_LIVE_ENV_STATE})
# The self-test brings up an environment of its own, and only one can be up at a time: it has to be
# over before the fixture's starts.
set_tests_properties(live_env_up PROPERTIES FIXTURES_SETUP live_env LABELS "integration" TIMEOUT 120
                     DEPENDS live_env_selftest)

# Our cloning tool makes the installer's initial backup at up, and the programs under test find it on PATH.
if(TARGET marlin-clone)
    set_tests_properties(live_env_up PROPERTIES ENVIRONMENT "MARLIN_CLONE=$<TARGET_FILE:marlin-clone>")
    add_custom_target(live-bin ALL
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:marlin-clone>
                $<TARGET_FILE:marlin-archive-extract> ${MARLIN_LIVE_BIN_DIR}/
        DEPENDS marlin-clone marlin-archive-extract VERBATIM)
endif()

add_test(NAME live_env_down COMMAND ${MARLIN_LIVE_ENV_TOOL} down ${MARLIN_LIVE_ENV_STATE})
set_tests_properties(live_env_down PROPERTIES FIXTURES_CLEANUP live_env LABELS "integration" TIMEOUT 120)

function(marlin_add_live_test)
    cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;OUTPUT_NAME" "SOURCES;LIBS;ENV" ${ARGN})
    if(NOT T_NAME OR NOT T_SOURCES)
        message(FATAL_ERROR "marlin_add_live_test: NAME and SOURCES are required")
    endif()
    if(NOT T_LABEL)
        set(T_LABEL integration)
    elseif(NOT T_LABEL MATCHES "^(integration|e2e)$")
        message(FATAL_ERROR "marlin_add_live_test(${T_NAME}): LABEL is integration or e2e, not '${T_LABEL}'")
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()

    marlin_test_executable(NAME ${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS} OUTPUT_NAME ${T_OUTPUT_NAME})

    # One live test at a time: they share the partitions, the bus and udisksd.
    add_test(NAME ${T_NAME}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/live-env/marlin-live-env exec ${PROJECT_BINARY_DIR}/live-env-state
                     -- $<TARGET_FILE:${T_NAME}>)
    set_tests_properties(${T_NAME} PROPERTIES
        LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
        FIXTURES_REQUIRED live_env RESOURCE_LOCK live_env
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;MARLIN_BIN_DIR=${PROJECT_BINARY_DIR}/live-bin;${T_ENV}")
endfunction()

function(marlin_live_bin)
    foreach(target IN LISTS ARGN)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${PROJECT_BINARY_DIR}/live-bin/
            VERBATIM)
    endforeach()
endfunction()
