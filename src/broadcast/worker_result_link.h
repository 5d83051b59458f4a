// The way back from a short-lived worker thread to the object that waits for its result.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

// Where a worker's result goes: a handler run on the receiver's thread, for as long as the
// receiver exists. The receiver closes the link when it goes; a worker finishing later posts
// nothing, so a worker never needs to know whether its receiver is still there.
// Any thread; never blocks beyond a short mutex.
template <typename Worker, typename Result>
class WorkerResultLink {
public:
    using Handler = std::function<void(const std::shared_ptr<Worker>& worker, const Result&)>;

    WorkerResultLink(QObject* receiver, Handler handler)
        : m_receiver(receiver), m_handler(std::move(handler)) {}

    void close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_receiver = nullptr;
    }

    // Queues the handler on the receiver's thread; false when the link is closed.
    bool post(const std::shared_ptr<Worker>& worker, const Result& result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_receiver) return false;
        // Queued events of a receiver that goes away are dropped with it.
        Handler handler = m_handler;
        QMetaObject::invokeMethod(
            m_receiver, [handler, worker, result] { handler(worker, result); },
            Qt::QueuedConnection);
        return true;
    }

private:
    std::mutex m_mutex;
    QObject* m_receiver;
    Handler m_handler;
};

// Runs `body` on a new thread called `name` and returns the thread, already started. The thread
// is no one's child and deletes itself when `body` returns, so it may outlive whoever started it
// (a receiver waits for it only as long as it chooses to).
template <typename Body>
QThread* startDetachedThread(const QString& name, Body body,
                             QThread::Priority priority = QThread::InheritPriority) {
    QThread* thread = QThread::create(std::move(body));
    thread->setObjectName(name);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(priority);
    return thread;
}
