marlin_add_test(NAME tst_restorepage LABEL gui SOURCES tst_restorepage.cpp LIBS marlin-recovery-live-lib marlin-gui-testsupport)
