doredoradar_add_test(test_mixer_logic LABEL unit SOURCES test_mixer_logic.cpp
    LIBS doredoradar_core)
