#include "gst_leaks.h"

#include <gst/gst.h>

#include <QStringList>

namespace gstleaks {

namespace {

GstTracer* leaksTracer() {
    GstTracer* found = nullptr;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item; item = item->next) {
        if (!found && g_str_equal(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer")) {
            found = GST_TRACER(gst_object_ref(item->data));
        }
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;
}

GObject* objectOf(const GstStructure* entry) {
    const GValue* value = gst_structure_get_value(entry, "object");
    return value && G_VALUE_HOLDS_OBJECT(value) ? G_OBJECT(g_value_get_object(value)) : nullptr;
}

// False when the tracer does not run.
template <typename Visit>
bool forEachLiveObject(Visit visit) {
    GstTracer* tracer = gst_is_initialized() ? leaksTracer() : nullptr;
    if (!tracer) return false;
    GstStructure* info = nullptr;
    g_signal_emit_by_name(tracer, "get-live-objects", &info);
    const GValue* list = info ? gst_structure_get_value(info, "live-objects-list") : nullptr;
    for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
        const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
        visit(entry);
        // GStreamer 1.22 puts the objects into the list without a reference of their own, yet
        // freeing the list drops one: give it the reference it is about to drop.
        if (GObject* object = objectOf(entry)) g_object_ref(object);
    }
    if (info) gst_structure_free(info);
    gst_object_unref(tracer);
    return true;
}

}  // namespace

void enable() {
    qputenv("GST_TRACERS", QByteArrayLiteral("leaks(filters=\"GstElement,GstPad,GstBus\")"));
}

QSet<quintptr> snapshot() {
    QSet<quintptr> alive;
    forEachLiveObject([&alive](const GstStructure* entry) {
        alive.insert(reinterpret_cast<quintptr>(objectOf(entry)));
    });
    return alive;
}

QString liveObjects(const QSet<quintptr>& ignore) {
    QStringList result;
    const bool running = forEachLiveObject([&](const GstStructure* entry) {
        GObject* object = objectOf(entry);
        if (ignore.contains(reinterpret_cast<quintptr>(object))) return;
        guint refs = 0;
        gst_structure_get_uint(entry, "ref-count", &refs);
        const bool named = object && GST_IS_OBJECT(object);
        result << QStringLiteral("%1 %2 refs=%3")
                      .arg(QString::fromUtf8(object ? G_OBJECT_TYPE_NAME(object) : "?"),
                           named ? QString::fromUtf8(GST_OBJECT_NAME(object)) : QString())
                      .arg(refs);
    });
    return running ? result.join(QStringLiteral("; ")) : QStringLiteral("no leak tracer runs");
}

}  // namespace gstleaks
