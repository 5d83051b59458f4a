#pragma once

#include <utility>

// Forward declarations only: the GStreamer headers stay in the .cpp files.
typedef struct _GstObject GstObject;
typedef struct _GstElement GstElement;
typedef struct _GstPad GstPad;
typedef struct _GstBus GstBus;

namespace gsthandle {
// Out of line so that this header needs no GStreamer include.
void unrefObject(void* object);
void refObject(void* object);
void refSinkObject(void* object);
}  // namespace gsthandle

// Owns exactly one strong reference to a GstObject (element, pad, bus). Move-only; the
// reference is dropped when the handle is reset or goes away, so no failure path can leak one
// or use one twice. Not thread-safe by itself: the owner decides who may touch it.
template <typename T>
class GstObjectHandle {
public:
    GstObjectHandle() = default;
    ~GstObjectHandle() { reset(); }

    GstObjectHandle(const GstObjectHandle&) = delete;
    GstObjectHandle& operator=(const GstObjectHandle&) = delete;
    GstObjectHandle(GstObjectHandle&& other) noexcept : m_object(other.m_object) {
        other.m_object = nullptr;
    }
    GstObjectHandle& operator=(GstObjectHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }

    // Takes over a reference the caller already owns (a "transfer full" return value).
    static GstObjectHandle adopt(T* object) {
        GstObjectHandle handle;
        handle.m_object = object;
        return handle;
    }
    // Adds a reference of its own to an object someone else owns (a bin's child, say).
    static GstObjectHandle share(T* object) {
        if (object) gsthandle::refObject(object);
        return adopt(object);
    }
    // Takes a freshly made, floating object: sinks the floating reference into this handle.
    static GstObjectHandle sink(T* object) {
        if (object) gsthandle::refSinkObject(object);
        return adopt(object);
    }

    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    void reset() {
        if (m_object) gsthandle::unrefObject(std::exchange(m_object, nullptr));
    }

private:
    T* m_object = nullptr;
};

using ElementHandle = GstObjectHandle<GstElement>;
using PadHandle = GstObjectHandle<GstPad>;
using BusHandle = GstObjectHandle<GstBus>;
