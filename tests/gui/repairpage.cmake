marlin_add_test(NAME tst_repairpage LABEL gui SOURCES tst_repairpage.cpp LIBS marlin-recovery-live-lib marlin-gui-testsupport)
