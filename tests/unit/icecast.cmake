doredoradar_add_test(test_icecast_wire LABEL unit SOURCES test_icecast_wire.cpp LIBS doredoradar_broadcast)
doredoradar_add_test(test_stream_health_monitor LABEL unit
    SOURCES test_stream_health_monitor.cpp LIBS doredoradar_broadcast)
