marlin_add_live_test(NAME tst_gui_e2e LABEL e2e TIMEOUT 1800 SOURCES tst_gui_e2e.cpp
                     LIBS marlin-live-gui-driver marlin-live-service-test OUTPUT_NAME marlin-recovery-live-gui-test)
