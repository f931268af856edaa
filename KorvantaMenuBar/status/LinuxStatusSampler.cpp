#include "status/LinuxStatusSampler.h"

#include <QDir>
#include <QStandardPaths>

namespace kmb {

LinuxStatusSampler::LinuxStatusSampler(SystemRoots roots) : m_roots(std::move(roots)) {}

std::unique_ptr<LinuxStatusSampler> LinuxStatusSampler::forThisMachine()
{
    SystemRoots roots;
    roots.homePath = QDir::homePath();
    const QStringList dataDirs =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    roots.dataDir = dataDirs.isEmpty() ? QString() : dataDirs.first();
    return std::make_unique<LinuxStatusSampler>(std::move(roots));
}

} // namespace kmb
