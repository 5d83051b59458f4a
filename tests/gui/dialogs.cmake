doredoradar_add_test(test_dialogs LABEL gui SOURCES test_dialogs.cpp LIBS doredoradar_ui)
