doredoradar_add_test(test_cloud_api_client LABEL integration
    SOURCES test_cloud_api_client.cpp LIBS doredoradar_core)
