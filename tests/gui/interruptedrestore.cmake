marlin_add_test(NAME tst_interruptedrestore LABEL gui SOURCES tst_interruptedrestore.cpp
                LIBS marlin-recovery-live-lib marlin-fake-service marlin-gui-testsupport)
target_compile_definitions(tst_interruptedrestore PRIVATE
                           MARLIN_LIVE_QM_DIR="${PROJECT_BINARY_DIR}/src/marlin-recovery-live")
add_dependencies(tst_interruptedrestore marlin-recovery-live_lrelease)
