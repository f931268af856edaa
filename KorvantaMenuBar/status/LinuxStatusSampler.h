#pragma once

#include "status/FallbackStatusSampler.h"

#include <QString>
#include <memory>

namespace kmb {

// Where the readers look. Production passes the real places; tests pass fake trees.
struct SystemRoots {
    QString procRoot = QStringLiteral("/proc");
    QString sysRoot = QStringLiteral("/sys");
    QString homePath; // the volume holding it is the one reported
    QString dataDir;  // stands for Application Support: <dataDir>/Korvanta/CleanupHistory.plist
};

// Samples this Linux machine.
class LinuxStatusSampler : public FallbackStatusSampler {
public:
    explicit LinuxStatusSampler(SystemRoots roots);
    static std::unique_ptr<LinuxStatusSampler> forThisMachine();

    const SystemRoots& roots() const { return m_roots; }

private:
    SystemRoots m_roots;
};

} // namespace kmb
