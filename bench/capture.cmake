# Deck capture: CPU per minute of one capturing deck, allocations on the capture path.
add_executable(capture_bench capture_bench.cpp capture_alloc_counter.cpp capture_alloc_counter.h
    thread_stats.cpp thread_stats.h)
target_link_libraries(capture_bench PRIVATE doredoradar_audio doredoradar_test_support)
