#include "app/signinflow.h"

#include "app/loginurl.h"

SignInFlow::SignInFlow(QString pageDir, Opener opener)
    : m_pageDir(std::move(pageDir)), m_opener(std::move(opener))
{
}

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
        // The same offer again (a new expiry) is taken; another page is not
        // opened over the one the user is looking at.
        return !url.isEmpty() && url == m_url ? Answer::Updated : Answer::Ignored;
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
    m_page.reset();
}

bool SignInFlow::open(const QUrl &url, const QString &linkText)
{
    if (m_pageDir.isEmpty())
        return m_opener(url);
    // With a private folder the URL is never handed over itself: without its
    // page, the sign-in fails rather than show its code to other users.
    m_page = SignInPage::create(m_pageDir, url, linkText);
    if (!m_page || !m_opener(m_page->fileUrl())) {
        m_page.reset();
        return false;
    }
    return true;
}
