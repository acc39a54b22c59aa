#pragma once

#include "ipc/diagcopy.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QThread;

// Copies the diagnostics files the daemon announces, one at a time, on a
// thread of its own, and reports each outcome on the thread it lives on.
//
// A daemon may announce files faster than they can be copied (or without
// end): while a copy runs, only the newest request waits, replacing any older
// one unreported. Destroying the copier cancels a running copy between two
// chunks and waits for it only briefly; a copy stuck in the kernel is left to
// end with the process.
class DiagnosticsCopier : public QObject
{
    Q_OBJECT

public:
    explicit DiagnosticsCopier(QObject *parent = nullptr);
    ~DiagnosticsCopier() override;

    // Copies sourcePath into diagnosticsFolder() as it is when the copy
    // starts. serviceAccount: the account of a service daemon whose files
    // are accepted besides the system's and the user's (see DiagCopyOptions).
    void request(const QString &sourcePath, const std::string &serviceAccount = {});

    bool isBusy() const { return m_thread != nullptr; }

    // The largest file copied; tests lower it.
    void setMaxBytes(qint64 bytes) { m_options.maxBytes = bytes; }
    // Run on the copying thread after each chunk; tests pace the copy with it.
    void setAfterChunk(std::function<void()> afterChunk)
    {
        m_options.afterChunk = std::move(afterChunk);
    }

    // How long destruction waits for a cancelled copy to stop.
    static constexpr int kStopWaitMs = 200;

signals:
    void copied(const QString &destination);
    void failed();

private:
    struct Job;
    struct Request
    {
        QString sourcePath;
        std::string serviceAccount;
    };
    void start(const Request &request);
    void finish();

    DiagCopyOptions m_options;
    std::shared_ptr<Job> m_job; // shared with the thread, which may outlive us
    QThread *m_thread = nullptr;
    std::optional<Request> m_pending;
};
