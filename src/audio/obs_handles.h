#pragma once

// Owning handles for libobs references. Only .cpp files include this: it pulls in obs.h.

#include <obs.h>

#include <memory>

namespace obshandle {

struct SourceRelease {
    void operator()(obs_source_t* source) const { obs_source_release(source); }
};
struct DataRelease {
    void operator()(obs_data_t* data) const { obs_data_release(data); }
};
struct PropertiesDestroy {
    void operator()(obs_properties_t* properties) const { obs_properties_destroy(properties); }
};

// Each holds one reference that it gives back when it goes.
using Source = std::unique_ptr<obs_source_t, SourceRelease>;
using Data = std::unique_ptr<obs_data_t, DataRelease>;
using Properties = std::unique_ptr<obs_properties_t, PropertiesDestroy>;

}  // namespace obshandle
