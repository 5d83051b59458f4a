doredoradar_add_test(test_metadata_sources LABEL integration
    SOURCES test_metadata_sources.cpp LIBS doredoradar_metadata)
