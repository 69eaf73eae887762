marlin_add_test(NAME tst_recoverygui LABEL gui SOURCES tst_recoverygui.cpp
                LIBS marlin-recovery-live-lib marlin-testsupport marlin-gui-testsupport marlin-fake-service)
target_compile_definitions(tst_recoverygui PRIVATE MARLIN_LIVE_QM_DIR="${PROJECT_BINARY_DIR}/src/marlin-recovery-live")
# The catalogues are built with the program; the test loads the German one.
add_dependencies(tst_recoverygui marlin-recovery-live_lrelease)
