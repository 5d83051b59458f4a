doredoradar_add_test(test_startup LABEL gui SOURCES test_startup.cpp LIBS doredoradar_ui)
