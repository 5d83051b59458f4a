// The one check the Windows test programs share: a failure prints where and why and is counted.
#pragma once

#include <cstdio>
#include <string>

inline int g_failures = 0;

#define CHECK(condition, detail)                                                              \
    ((condition) ? void(0)                                                                    \
                 : (std::fprintf(stderr, "%s:%d: CHECK(%s) failed: %s\n", __FILE__, __LINE__, \
                                 #condition, std::string(detail).c_str()),                    \
                    void(++g_failures)))
