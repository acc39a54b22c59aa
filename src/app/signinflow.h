#pragma once

#include "app/signinpage.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// Decides what a "browser_opened" event from the daemon may do. A browser is
// opened only for a sign-in that this interface asked for and that still
// waits for its page, and only once for it: the daemon, or anything else on
// the pipe, cannot open browsers at will. The page goes to the browser through
// a private forwarding file where a private folder exists (see SignInPage),
// which is removed when the sign-in ends.
class SignInFlow
{
public:
    // Hands a URL to the browser; false when nothing could open it.
    using Opener = std::function<bool(const QUrl &)>;

    enum class Answer
    {
        Ignored, // nobody here waits for a page: nothing changes
        Opened,  // the page of the sign-in asked for is open in the browser
        Updated, // the sign-in under way, offered again: only its expiry changes
        Failed,  // the page was refused or could not be opened; the sign-in is over
    };

    // pageDir: the private folder for forwarding pages; empty where there is
    // none, and the checked URL itself goes to the browser.
    SignInFlow(QString pageDir, Opener opener);
    ~SignInFlow() = default;

    // A sign-in request has just gone to the daemon; any sign-in under way is over.
    void start();
    // The daemon's "browser_opened" with its login URL. linkText labels the
    // page's link.
    Answer offer(const QString &loginUrl, const QString &linkText);
    // The sign-in is over (completed, failed, cancelled, expired): forgets it
    // and removes its page.
    void end();

    bool awaitingPage() const { return m_state == State::AwaitingPage; }
    bool underWay() const { return m_state == State::Open; }
    // The forwarding page of the sign-in under way; empty without one.
    QString pagePath() const { return m_page ? m_page->path() : QString(); }

private:
    enum class State
    {
        Idle,
        AwaitingPage,
        Open
    };

    bool open(const QUrl &url, const QString &linkText);

    QString m_pageDir;
    Opener m_opener;
    State m_state = State::Idle;
    QUrl m_url;
    std::unique_ptr<SignInPage> m_page;
};
