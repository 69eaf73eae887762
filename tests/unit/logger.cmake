marlin_add_test(NAME tst_logger LABEL unit SOURCES tst_logger.cpp LIBS Tessel::Core)
