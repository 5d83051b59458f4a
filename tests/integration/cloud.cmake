doredoradar_add_test(test_cloud_api_client LABEL integration
    SOURCES test_cloud_api_client.cpp LIBS doredoradar_cloud TIMEOUT 180)
doredoradar_add_test(test_cloud_streaming LABEL integration
    SOURCES test_cloud_streaming.cpp LIBS doredoradar_broadcast doredoradar_cloud)
