// Owning handles for GStreamer references: objects, mini objects and request pads.
#pragma once

#include <utility>

// Forward declarations only: the GStreamer headers stay in the .cpp files.
typedef struct _GstObject GstObject;
typedef struct _GstElement GstElement;
typedef struct _GstPad GstPad;
typedef struct _GstBus GstBus;
typedef struct _GstClock GstClock;
typedef struct _GstCaps GstCaps;
typedef struct _GstBuffer GstBuffer;
typedef struct _GstSample GstSample;
typedef struct _GstTagList GstTagList;
typedef struct _GstMessage GstMessage;

namespace gsthandle {
// Out of line so that this header needs no GStreamer include.
struct ObjectRefs {
    static void ref(void* object);
    static void refSink(void* object);
    static void unref(void* object);
};
struct MiniObjectRefs {
    static void ref(void* object);
    static void unref(void* object);
};
}  // namespace gsthandle

// Owns exactly one strong reference. Move-only; the reference is dropped when the handle is
// reset or goes away, so no failure path can leak one or drop one twice. Not thread-safe by
// itself: the owner decides who may touch it.
template <typename T, typename Refs>
class GstHandle {
public:
    GstHandle() = default;
    ~GstHandle() { reset(); }

    GstHandle(const GstHandle&) = delete;
    GstHandle& operator=(const GstHandle&) = delete;
    GstHandle(GstHandle&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    GstHandle& operator=(GstHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }

    // Takes over a reference the caller already owns (a "transfer full" return value).
    static GstHandle adopt(T* object) {
        GstHandle handle;
        handle.m_object = object;
        return handle;
    }
    // Adds a reference of its own to an object someone else owns (a bin's child, say).
    static GstHandle share(T* object) {
        if (object) Refs::ref(object);
        return adopt(object);
    }
    // Takes a freshly made, floating object: sinks the floating reference into this handle.
    // Objects only; mini objects do not float.
    static GstHandle sink(T* object) {
        if (object) Refs::refSink(object);
        return adopt(object);
    }

    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Hands the reference to a "transfer full" parameter; the handle is empty afterwards.
    T* release() { return std::exchange(m_object, nullptr); }

    void reset() {
        if (m_object) Refs::unref(std::exchange(m_object, nullptr));
    }

private:
    T* m_object = nullptr;
};

template <typename T>
using GstObjectHandle = GstHandle<T, gsthandle::ObjectRefs>;
using ElementHandle = GstObjectHandle<GstElement>;
using PadHandle = GstObjectHandle<GstPad>;
using BusHandle = GstObjectHandle<GstBus>;
using ClockHandle = GstObjectHandle<GstClock>;

template <typename T>
using GstMiniObjectHandle = GstHandle<T, gsthandle::MiniObjectRefs>;
using CapsHandle = GstMiniObjectHandle<GstCaps>;
using BufferHandle = GstMiniObjectHandle<GstBuffer>;
using SampleHandle = GstMiniObjectHandle<GstSample>;
using TagListHandle = GstMiniObjectHandle<GstTagList>;
using MessageHandle = GstMiniObjectHandle<GstMessage>;

// A pad obtained from an element by request ("sink_%u", "src_%u"). Going away, it gives the pad
// back to its element and then drops its own reference: a request pad only unreferenced would
// stay on the element. Holds the element too, so the order is always right. Move-only.
class RequestPadHandle {
public:
    RequestPadHandle() = default;
    ~RequestPadHandle() { reset(); }
    RequestPadHandle(RequestPadHandle&&) noexcept = default;
    RequestPadHandle& operator=(RequestPadHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_element = std::move(other.m_element);
            m_pad = std::move(other.m_pad);
        }
        return *this;
    }

    // Empty when the element has no such template or refuses the request.
    static RequestPadHandle request(GstElement* element, const char* templateName);

    GstPad* get() const { return m_pad.get(); }
    explicit operator bool() const { return static_cast<bool>(m_pad); }

    void reset();

private:
    ElementHandle m_element;
    PadHandle m_pad;
};

// The static pad of an element ("src", "sink"), with a reference of its own; empty if none.
PadHandle staticPad(GstElement* element, const char* name);
