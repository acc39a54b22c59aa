#include "app/interfaceloader.h"

#include <QQmlApplicationEngine>
#include <QUrl>

InterfaceLoader::InterfaceLoader(QString url, Prepare prepare, Loaded loaded)
    : m_url(std::move(url)), m_prepare(std::move(prepare)), m_loaded(std::move(loaded))
{
}

InterfaceLoader::~InterfaceLoader() = default;

QObject *InterfaceLoader::root()
{
    if (m_root || m_engine)
        return m_root; // loaded, or tried once and failed: never twice
    m_engine = std::make_unique<QQmlApplicationEngine>();
    if (m_prepare)
        m_prepare(*m_engine);
    m_engine->load(QUrl(m_url));
    if (m_engine->rootObjects().isEmpty())
        return nullptr;
    m_root = m_engine->rootObjects().constFirst();
    if (m_loaded)
        m_loaded(m_root);
    return m_root;
}
