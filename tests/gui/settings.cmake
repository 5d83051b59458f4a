doredoradar_add_test(test_settings_dialog LABEL gui SOURCES test_settings_dialog.cpp
    LIBS doredoradar_ui doredoradar_platform)
