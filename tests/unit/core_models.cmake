doredoradar_add_test(test_settings_store LABEL unit SOURCES test_settings_store.cpp
    LIBS doredoradar_ui doredoradar_platform)
doredoradar_add_test(test_app_state LABEL unit SOURCES test_app_state.cpp LIBS doredoradar_ui)
