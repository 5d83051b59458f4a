# The Icecast source client against scripted servers, and the sockets under it (against a real
# Icecast it is driven by the broadcast tests in e2e/ and by test_cloud_streaming).
doredoradar_add_test(test_icecast_client LABEL integration
    SOURCES test_icecast_client.cpp LIBS doredoradar_broadcast)
doredoradar_add_test(test_icecast_sockets LABEL integration
    SOURCES test_icecast_sockets.cpp LIBS doredoradar_platform)
doredoradar_add_test(test_connection_check LABEL integration
    SOURCES test_connection_check.cpp LIBS doredoradar_broadcast)
