# marlin_test_executable(NAME <name> SOURCES ... [LIBS ...] [OUTPUT_NAME name])
# Builds a QtTest program that knows where the fixtures, the test tools and the trees are.
function(marlin_test_executable)
    cmake_parse_arguments(T "" "NAME;OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    if(T_OUTPUT_NAME)
        set_target_properties(${T_NAME} PROPERTIES OUTPUT_NAME ${T_OUTPUT_NAME})
    endif()
    target_compile_definitions(${T_NAME} PRIVATE
        MARLIN_FIXTURES_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures"
        MARLIN_TEST_TOOLS_DIR="${PROJECT_SOURCE_DIR}/tests/tools"
        MARLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        MARLIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
endfunction()

# marlin_add_test(NAME <name> LABEL <unit|gui> SOURCES ... [LIBS ...] [ENV ...] [TIMEOUT s] [OUTPUT_NAME name])
# One line per test program: builds it and registers it with CTest under its label.
function(marlin_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;OUTPUT_NAME" "SOURCES;LIBS;ENV" ${ARGN})
    marlin_test_executable(NAME ${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS} OUTPUT_NAME ${T_OUTPUT_NAME})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    if(T_LABEL STREQUAL "unit")
        # Unit tests never reach the machine's own system bus (and so never its UDisks2).
        list(APPEND T_ENV "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/marlin-unit-tests-have-no-bus")
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
endfunction()
