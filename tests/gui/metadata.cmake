doredoradar_add_test(test_metadata_window LABEL gui
    SOURCES test_metadata_window.cpp LIBS doredoradar_metadata doredoradar_platform)
