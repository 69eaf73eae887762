marlin_add_test(NAME tst_neverstranded LABEL gui SOURCES tst_neverstranded.cpp
                LIBS marlin-recovery-live-lib marlin-fake-service marlin-gui-testsupport)
target_compile_definitions(tst_neverstranded PRIVATE MARLIN_LIVE_QM_DIR="${PROJECT_BINARY_DIR}/src/marlin-recovery-live")
add_dependencies(tst_neverstranded marlin-recovery-live_lrelease)
