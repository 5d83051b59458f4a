# The update manager's fallback and start with the system, in a temporary config folder.
doredoradar_add_test(test_system_services LABEL unit SOURCES test_system_services.cpp
    LIBS doredoradar_maintenance)
