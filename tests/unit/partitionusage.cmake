marlin_add_test(NAME tst_partitionusage LABEL unit SOURCES tst_partitionusage.cpp LIBS marlin-utils marlin-testsupport)
