#include "app/signinflow.h"

#include "app/loginurl.h"

SignInFlow::SignInFlow(Handover handover, Opener opener)
    : m_handover(handover), m_opener(std::move(opener))
{
}

SignInFlow::~SignInFlow() = default;

void SignInFlow::start()
{
    end();
    m_state = State::AwaitingPage;
}

SignInFlow::Answer SignInFlow::offer(const QString &loginUrl, const QString &linkText)
{
    const QUrl url = LoginUrl::openable(loginUrl);
    switch (m_state) {
    case State::Idle:
        return Answer::Ignored;
    case State::Open:
        // Never a second page over the one the user is looking at: the same
        // offer moves its expiry, a newer one takes the old one's place.
        if (url.isEmpty())
            return Answer::Ignored;
        if (url == m_url)
            return Answer::Updated;
        m_url = url;
        if (m_handoff)
            m_handoff->setTarget(url, linkText);
        return Answer::Replaced;
    case State::AwaitingPage:
        break;
    }
    if (url.isEmpty() || !open(url, linkText)) {
        end();
        return Answer::Failed;
    }
    m_state = State::Open;
    m_url = url;
    return Answer::Opened;
}

void SignInFlow::end()
{
    m_state = State::Idle;
    m_url.clear();
    m_handoff.reset();
}

bool SignInFlow::open(const QUrl &url, const QString &linkText)
{
    if (m_handover == Handover::Direct)
        return m_opener(url);
    // The URL itself is never handed over here: without the hand-off the
    // sign-in fails rather than put its code on a command line.
    m_handoff = std::make_unique<LoopbackHandoff>();
    if (!m_handoff->open(url, linkText) || !m_opener(m_handoff->url())) {
        m_handoff.reset();
        return false;
    }
    return true;
}
