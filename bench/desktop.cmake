# The desktop application's cost: start-up, idle (shown and minimised), on air beside
# doredoradar-cli in the same run, memory after a long time on air.
add_executable(desktop_bench desktop_bench.cpp thread_stats.cpp)
target_link_libraries(desktop_bench PRIVATE doredoradar_ui doredoradar_test_support)
target_compile_definitions(desktop_bench PRIVATE
    DOREDORADAR_APP_EXECUTABLE="$<TARGET_FILE:doredoradar>"
    DOREDORADAR_CLI_EXECUTABLE="$<TARGET_FILE:doredoradar-cli>")
add_dependencies(desktop_bench doredoradar doredoradar-cli)
