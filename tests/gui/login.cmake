doredoradar_add_test(test_login_windows LABEL gui SOURCES test_login_windows.cpp
    LIBS doredoradar_ui)
