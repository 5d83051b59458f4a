doredoradar_add_test(test_metadata_parsing LABEL unit
    SOURCES test_metadata_parsing.cpp LIBS doredoradar_metadata)
