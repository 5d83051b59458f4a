doredoradar_add_test(test_audio_engine LABEL integration SOURCES test_audio_engine.cpp
    LIBS doredoradar_core TIMEOUT 240)
