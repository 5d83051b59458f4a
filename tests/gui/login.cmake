doredoradar_add_test(test_login_windows LABEL gui SOURCES test_login_windows.cpp
    LIBS doredoradar_ui)

# Start-up to the right window: the stand-in cloud, the main window on Xvfb.
doredoradar_add_test(test_login_session_flow LABEL gui SOURCES test_login_session_flow.cpp
    LIBS doredoradar_ui doredoradar_maintenance TIMEOUT 180)
