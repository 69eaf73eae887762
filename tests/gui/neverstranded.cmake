# A stand-in recovery service on a private bus for the tests that need the service's answers.
add_library(marlin-fake-service STATIC ../support/FakeRecoveryService.cpp)
target_include_directories(marlin-fake-service PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/../support)
target_link_libraries(marlin-fake-service PUBLIC Qt6::Core Qt6::DBus)
target_compile_definitions(marlin-fake-service PRIVATE MARLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

marlin_add_test(NAME tst_neverstranded LABEL gui SOURCES tst_neverstranded.cpp
                LIBS marlin-recovery-live-lib marlin-fake-service marlin-gui-testsupport)
target_compile_definitions(tst_neverstranded PRIVATE MARLIN_LIVE_QM_DIR="${PROJECT_BINARY_DIR}/src/marlin-recovery-live")
add_dependencies(tst_neverstranded marlin-recovery-live_lrelease)
