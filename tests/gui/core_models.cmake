doredoradar_add_test(test_encoder_settings_dialog LABEL gui
    SOURCES test_encoder_settings_dialog.cpp LIBS doredoradar_ui)
