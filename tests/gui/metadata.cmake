# Window titles of X11 windows the test makes itself over its own X connection.
pkg_check_modules(TEST_XCB REQUIRED IMPORTED_TARGET xcb)
doredoradar_add_test(test_metadata_window LABEL gui SOURCES test_metadata_window.cpp
    LIBS doredoradar_metadata doredoradar_platform PkgConfig::TEST_XCB)
