// Makes the elements of one pipeline into its bin, leaving out the factories declared missing.
#pragma once

#include <QSet>
#include <QString>

#include "audio/gst_object_handle.h"

// Main thread, while a pipeline is being built.
class ElementMaker {
public:
    // The bin must outlive the maker; so must the set, which tests fill to stand for plug-ins
    // that are not installed.
    ElementMaker(GstElement* bin, const QSet<QString>& unavailableFactories);

    // Made and added to the bin, which owns it from then on: a failed build only has to drop
    // the bin. Null when the factory is missing.
    GstElement* make(const char* factory, const char* name);
    // Made but kept out of the bin, for an element to try out before it joins.
    ElementHandle makeLoose(const char* factory, const char* name);
    // The bin takes a loose element; returned for linking (the bin holds it).
    GstElement* add(const ElementHandle& element);

private:
    GstElement* m_bin;
    const QSet<QString>& m_unavailableFactories;
};
