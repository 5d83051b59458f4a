pkg_check_modules(TEST_GSTREAMER REQUIRED IMPORTED_TARGET gstreamer-1.0)
doredoradar_add_test(test_audio_engine LABEL integration SOURCES test_audio_engine.cpp
    LIBS doredoradar_audio doredoradar_platform PkgConfig::TEST_GSTREAMER TIMEOUT 240)

# Bus messages must not depend on a GLib main loop: the same test with Qt's own dispatcher.
doredoradar_add_test(test_mixer_bus LABEL integration SOURCES test_mixer_bus.cpp
    LIBS doredoradar_audio doredoradar_platform PkgConfig::TEST_GSTREAMER)
doredoradar_add_test(test_mixer_bus_no_glib LABEL integration SOURCES test_mixer_bus.cpp
    LIBS doredoradar_audio doredoradar_platform PkgConfig::TEST_GSTREAMER ENV QT_NO_GLIB=1)
