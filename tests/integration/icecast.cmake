# The Icecast source client: against scripted servers, against a real Icecast, and the sockets.
# (The scripted source server itself is a shared fixture in tests/support.)
add_library(icecast_test_fakes INTERFACE icecast_test_client.h)
target_include_directories(icecast_test_fakes INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(icecast_test_fakes INTERFACE
    doredoradar_test_support doredoradar_broadcast Qt6::Network Qt6::Test)

doredoradar_add_test(test_icecast_client LABEL integration
    SOURCES test_icecast_client.cpp LIBS icecast_test_fakes)
doredoradar_add_test(test_icecast_sockets LABEL integration
    SOURCES test_icecast_sockets.cpp LIBS doredoradar_platform)
doredoradar_add_test(test_icecast_live LABEL integration
    SOURCES test_icecast_live.cpp LIBS icecast_test_fakes)
