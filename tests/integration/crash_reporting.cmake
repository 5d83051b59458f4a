add_executable(crash_child crash_child.cpp)
target_link_libraries(crash_child PRIVATE doredoradar_core)

doredoradar_add_test(test_crash_reporting LABEL integration
    SOURCES test_crash_reporting.cpp LIBS doredoradar_core)
add_dependencies(test_crash_reporting crash_child)
