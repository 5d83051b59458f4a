# Going live: connect-to-air and restart-to-air times of the broadcast controller against a real
# Icecast. The comparison with other tools and the soak run are scripts (broadcast-vs-peers.sh,
# soak.sh) around doredoradar-cli.
add_executable(broadcast_connect_bench broadcast_connect_bench.cpp)
target_link_libraries(broadcast_connect_bench PRIVATE doredoradar_broadcast doredoradar_test_support)
