doredoradar_add_test(test_logger LABEL unit SOURCES test_logger.cpp LIBS doredoradar_core)
