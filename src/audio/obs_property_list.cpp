// Reading a libobs list property of a source type.
#include "audio/obs_property_list.h"

#include <obs.h>

#include "audio/obs_handles.h"
#include "core/log_categories.h"

QList<QPair<QString, QString>> obsPropertyListItems(const char* sourceType, const char* property,
                                                    bool verbose) {
    QList<QPair<QString, QString>> items;
    if (verbose) {
        qCDebug(lcObsAudio) << "Enumerating devices for source:" << sourceType
                            << "property:" << property;
    }
    if (!obs_source_get_display_name(sourceType)) {
        if (verbose) qCWarning(lcObsAudio) << "Source type not registered:" << sourceType;
        return items;
    }

    obshandle::Properties properties(obs_get_source_properties(sourceType));
    if (!properties) {
        if (verbose) qCWarning(lcObsAudio) << "Failed to get source properties for:" << sourceType;
        return items;
    }

    obs_property_t* list = obs_properties_get(properties.get(), property);
    if (!list || obs_property_get_type(list) != OBS_PROPERTY_LIST) {
        if (verbose) {
            qCWarning(lcObsAudio) << "Failed to get property:" << property
                                  << "for source:" << sourceType;
            for (obs_property_t* p = obs_properties_first(properties.get()); p;) {
                qCDebug(lcObsAudio) << "  Available property:" << obs_property_name(p);
                if (!obs_property_next(&p)) break;
            }
        }
        return items;
    }
    const size_t count = obs_property_list_item_count(list);
    if (verbose) qCDebug(lcObsAudio) << "Found" << count << "devices for source:" << sourceType;
    for (size_t i = 0; i < count; ++i) {
        const char* name = obs_property_list_item_name(list, i);
        const char* value = obs_property_list_item_string(list, i);
        items.append({name ? QString::fromUtf8(name) : QString(),
                      value ? QString::fromUtf8(value) : QString()});
    }
    return items;
}
