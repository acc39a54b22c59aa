#include "ipc/diagnosticscopier.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>

struct DiagnosticsCopier::Job
{
    QString source;
    QString folder;
    DiagCopyOptions options;
    std::atomic<bool> cancelled{false};
    QString destination; // written by the thread, read after it finished
};

DiagnosticsCopier::DiagnosticsCopier(QObject *parent) : QObject(parent) {}

DiagnosticsCopier::~DiagnosticsCopier()
{
    if (!m_thread)
        return;
    m_job->cancelled = true;
    if (m_thread->wait(QDeadlineTimer(kStopWaitMs))) {
        delete m_thread;
        return;
    }
    // Still inside one read or write: quitting does not wait for it. The
    // thread owns its job; its object goes when it ends, or with the process.
    QObject::disconnect(m_thread, nullptr, this, nullptr);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

void DiagnosticsCopier::request(const QString &sourcePath, const std::string &serviceAccount)
{
    Request next{sourcePath, serviceAccount};
    if (m_thread) {
        m_pending = std::move(next);
        return;
    }
    start(next);
}

void DiagnosticsCopier::start(const Request &request)
{
    m_job = std::make_shared<Job>();
    m_job->source = request.sourcePath;
    m_job->folder = diagnosticsFolder();
    m_job->options = m_options;
    m_job->options.serviceAccount = request.serviceAccount;
    m_job->options.cancelled = &m_job->cancelled;
    m_thread = QThread::create([job = m_job] {
        job->destination = copyDiagnostics(job->source, job->folder, job->options);
    });
    m_thread->setObjectName(QStringLiteral("diagnostics copy"));
    // Emitted on the copying thread, handled here on ours.
    connect(m_thread, &QThread::finished, this, &DiagnosticsCopier::finish);
    m_thread->start();
}

void DiagnosticsCopier::finish()
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const QString destination = std::exchange(m_job->destination, QString());
    m_job.reset();

    // The next copy starts before the outcome is reported, so a receiver that
    // asks for another copy finds this one already done.
    if (m_pending)
        start(*std::exchange(m_pending, std::nullopt));
    if (destination.isEmpty())
        emit failed();
    else
        emit copied(destination);
}
