marlin_add_test(NAME tst_tesselwidgets LABEL gui SOURCES tst_tesselwidgets.cpp LIBS Tessel::Widgets)
