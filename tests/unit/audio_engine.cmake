doredoradar_add_test(test_audio_logic LABEL unit SOURCES test_audio_logic.cpp
    LIBS doredoradar_audio)
# The thread set-up of the live audio path (vector registers, scheduling policy).
doredoradar_add_test(test_audio_threads LABEL unit SOURCES test_audio_threads.cpp
    LIBS doredoradar_platform)
