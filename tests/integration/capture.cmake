# Deck capture through libobs against a private PulseAudio under Xvfb. libobs is one per
# process, so each binary starts it once.
pkg_check_modules(TEST_OBS REQUIRED IMPORTED_TARGET libobs)
doredoradar_add_test(test_capture_devices LABEL integration
    SOURCES test_capture_devices.cpp capture_test_helpers.h
    LIBS doredoradar_audio PkgConfig::TEST_OBS TIMEOUT 180)
doredoradar_add_test(test_capture_programs LABEL integration
    SOURCES test_capture_programs.cpp capture_test_helpers.h LIBS doredoradar_audio TIMEOUT 180)
