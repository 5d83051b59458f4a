// The connection check's steps, run one after another on a short-lived thread of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "broadcast/connection_check_step.h"
#include "broadcast/icecast_wire.h"
#include "broadcast/server_status.h"
#include "broadcast/worker_result_link.h"

class QThread;

namespace platform {
class AbortableSocket;
}

// Checks a source target step by step and posts each step's result as it is known, stopping
// after the first step that fails. Holds nothing but its own copies, so whoever started it may
// go away while it runs (a name lookup cannot be interrupted).
class ConnectionCheckWorker {
public:
    struct Timeouts {
        int connectMs = 5000;  // per address and per connection
        int answerMs = 5000;   // for each answer of the server
    };
    using ResultLink = WorkerResultLink<ConnectionCheckWorker, CheckStepResult>;

    // `formatName` names the codec in sentences ("Ogg Opus").
    ConnectionCheckWorker(icecast::SourceRequest request, QString formatName, Timeouts timeouts,
                          std::shared_ptr<ResultLink> link);
    ~ConnectionCheckWorker();
    ConnectionCheckWorker(const ConnectionCheckWorker&) = delete;
    ConnectionCheckWorker& operator=(const ConnectionCheckWorker&) = delete;

    // Runs the steps on a new thread that deletes itself when it ends. Returns at once.
    static QThread* start(const std::shared_ptr<ConnectionCheckWorker>& worker);

    // Any thread, never blocks: wakes every socket wait at once; nothing more is posted.
    void abort();
    bool isAborted() const;

private:
    // Worker thread. Each step says whether the next one may run.
    bool post(const std::shared_ptr<ConnectionCheckWorker>& self, const CheckStepResult& result);
    CheckStepResult resolve();
    CheckStepResult connect();
    CheckStepResult identifyServer();
    CheckStepResult checkMount() const;
    // The source login and the content type, from one source request that ends before any
    // audio is sent.
    std::vector<CheckStepResult> probeSource();

    QString host() const;
    QString mount() const;

    const icecast::SourceRequest m_request;
    const QString m_formatName;
    const Timeouts m_timeouts;
    const std::unique_ptr<platform::AbortableSocket> m_socket;
    const std::shared_ptr<ResultLink> m_link;

    std::vector<std::string> m_addresses;
    std::string m_reachable;  // the first address that accepted a connection
    StatusFetch m_status;
};
