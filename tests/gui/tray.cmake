# The tray icon on Xvfb, with and without a notification area (tests/support's tray host).
doredoradar_add_test(test_system_tray LABEL gui SOURCES test_system_tray.cpp LIBS doredoradar_ui)
