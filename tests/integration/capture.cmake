# Deck capture through libobs against a private PulseAudio under Xvfb. libobs is one per
# process: one binary, its cases in order.
pkg_check_modules(TEST_OBS REQUIRED IMPORTED_TARGET libobs)
doredoradar_add_test(test_capture LABEL integration SOURCES test_capture.cpp
    LIBS doredoradar_audio PkgConfig::TEST_OBS TIMEOUT 300)
