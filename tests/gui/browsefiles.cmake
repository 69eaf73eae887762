marlin_add_test(NAME tst_browsefiles LABEL gui SOURCES tst_browsefiles.cpp
                LIBS marlin-recovery-live-lib marlin-gui-testsupport marlin-fake-service)
target_compile_definitions(tst_browsefiles PRIVATE MARLIN_LIVE_QM_DIR="${PROJECT_BINARY_DIR}/src/marlin-recovery-live")
add_dependencies(tst_browsefiles marlin-recovery-live_lrelease)
