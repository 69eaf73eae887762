marlin_add_test(NAME tst_diskchooser LABEL gui SOURCES tst_diskchooser.cpp
                LIBS marlin-recovery-live-lib marlin-fake-service marlin-gui-testsupport)
