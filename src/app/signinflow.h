#pragma once

#include "app/loopbackhandoff.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// Decides what a "browser_opened" event from the daemon may do. A browser is
// opened only for a sign-in that this interface asked for and that still
// waits for its page, and only once for it: the daemon, or anything else on
// the pipe, cannot open browsers at will. Where the page goes through the
// loopback (see LoopbackHandoff), the browser is handed the hand-off's
// address, never the sign-in URL itself, and the listener closes when the
// sign-in ends.
//
// The newest offer of the sign-in under way wins: another (valid) URL
// replaces the one the hand-off serves, so a browser that has not fetched its
// page yet lands on the offer the daemon still waits for. No second page is
// opened for it; once the page has been served, the newer offer only moves
// the URL and expiry the screen counts down to.
class SignInFlow
{
public:
    // Hands a URL to the browser; false when nothing could open it.
    using Opener = std::function<bool(const QUrl &)>;

    enum class Handover
    {
        Loopback, // the hand-off's address (Unix)
        Direct,   // the checked URL itself, to the shell (Windows)
    };

    enum class Answer
    {
        Ignored,  // nobody here waits for a page: nothing changes
        Opened,   // the page of the sign-in asked for is open in the browser
        Updated,  // the sign-in under way, offered again: only its expiry changes
        Failed,   // the page was refused or could not be opened; the sign-in is over
        Replaced, // a newer offer for the sign-in under way: its URL and expiry
    };

    SignInFlow(Handover handover, Opener opener);
    ~SignInFlow();

    SignInFlow(const SignInFlow &) = delete;
    SignInFlow &operator=(const SignInFlow &) = delete;

    // A sign-in request has just gone to the daemon; any sign-in under way is
    // over. Two requests before an offer (a double click) are one sign-in:
    // the first offer opens the page, a later one replaces it there.
    void start();
    // The daemon's "browser_opened" with its login URL. linkText labels the
    // page's link.
    Answer offer(const QString &loginUrl, const QString &linkText);
    // The sign-in is over (completed, failed, cancelled, expired): forgets it
    // and closes its hand-off.
    void end();

    bool awaitingPage() const { return m_state == State::AwaitingPage; }
    bool underWay() const { return m_state == State::Open; }
    // The URL of the offer the sign-in under way waits on; empty without one.
    QUrl url() const { return m_url; }
    // The hand-off of the sign-in under way; null without one (and always
    // with the Direct handover).
    LoopbackHandoff *handoff() const { return m_handoff.get(); }

private:
    enum class State
    {
        Idle,
        AwaitingPage,
        Open
    };

    bool open(const QUrl &url, const QString &linkText);

    Handover m_handover;
    Opener m_opener;
    State m_state = State::Idle;
    QUrl m_url;
    std::unique_ptr<LoopbackHandoff> m_handoff;
};
