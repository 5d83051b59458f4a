# Going live end to end: capture under Xvfb from a private PulseAudio, the mixer and encoders,
# the controller, our source client and a real Icecast (or a scripted server where a real one
# will not misbehave on purpose), and the command-line broadcaster as a process.
add_library(broadcast_test_rig STATIC broadcast_rig.cpp broadcast_rig.h)
target_link_libraries(broadcast_test_rig PUBLIC
    doredoradar_test_support doredoradar_broadcast doredoradar_maintenance Qt6::Test)

doredoradar_add_test(test_broadcast LABEL e2e SOURCES test_broadcast.cpp
    LIBS broadcast_test_rig TIMEOUT 480)

# The command-line broadcaster run as a process.
doredoradar_add_test(test_broadcast_cli LABEL e2e SOURCES test_broadcast_cli.cpp TIMEOUT 180)
add_dependencies(test_broadcast_cli doredoradar-cli)
target_compile_definitions(test_broadcast_cli PRIVATE
    DOREDORADAR_CLI_EXECUTABLE="$<TARGET_FILE:doredoradar-cli>")

# The window's deck inputs, monitor state and program picker on the same rig.
doredoradar_add_test(test_deck_inputs LABEL e2e SOURCES test_deck_inputs.cpp
    LIBS broadcast_test_rig doredoradar_ui TIMEOUT 180)

# The main window against the stand-in cloud and a real Icecast, on Xvfb with a private PulseAudio.
doredoradar_add_test(test_main_window LABEL e2e SOURCES test_main_window.cpp
    LIBS doredoradar_ui TIMEOUT 600)
