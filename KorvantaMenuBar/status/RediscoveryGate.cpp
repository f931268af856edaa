#include "status/RediscoveryGate.h"

#include <QFile>
#include <sys/stat.h>

namespace kmb {

RediscoveryGate::RediscoveryGate(const std::vector<QString>& dirs, Clock clock)
    : m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
    for (const QString& dir : dirs)
        m_dirs.push_back(QFile::encodeName(dir));
}

bool RediscoveryGate::searchDue()
{
    const std::chrono::steady_clock::time_point now = m_clock();
    std::vector<std::optional<FileIdentity>> states = currentStates();
    if (m_searched && states == *m_searched && now - m_searchedAt < kSearchAgainAfter)
        return false;
    m_searched = std::move(states);
    m_searchedAt = now;
    return true;
}

void RediscoveryGate::searching()
{
    m_searchedAt = m_clock();
    m_searched = currentStates();
}

std::vector<std::optional<FileIdentity>> RediscoveryGate::currentStates() const
{
    std::vector<std::optional<FileIdentity>> states;
    states.reserve(m_dirs.size());
    for (const QByteArray& dir : m_dirs) {
        struct stat status {};
        if (::stat(dir.constData(), &status) == 0)
            states.push_back(FileIdentity::of(status));
        else
            states.push_back(std::nullopt); // missing: its appearance is a change
    }
    return states;
}

} // namespace kmb
