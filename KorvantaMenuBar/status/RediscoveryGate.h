#pragma once

#include "status/BoundedFile.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace kmb {

// Says when to search sysfs class directories again after a search found nothing in them (no
// temperature sensor, no battery): searching lists the directories and reads a file per
// device, on every pass for nothing on a machine that has none. It is due when a directory
// changed (one stat each: the kernel changes a directory's times when it adds or removes a
// device, on most kernels) and in any case kSearchAgainAfter after the last search, so that
// at one pass every 2 s a device added without touching the times is shown within 30 s.
class RediscoveryGate {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kSearchAgainAfter{28};

    // No clock: the steady clock.
    explicit RediscoveryGate(const std::vector<QString>& dirs, Clock clock = {});

    // True when a search is due; it is then taken as made now, on the directories as they are.
    bool searchDue();
    // A search made regardless of the gate (the source in use stopped reading): the next one
    // is due after a change or kSearchAgainAfter from now.
    void searching();

private:
    std::vector<std::optional<FileIdentity>> currentStates() const;

    std::vector<QByteArray> m_dirs;
    Clock m_clock;
    // The directories as they were at the last search; empty before the first.
    std::optional<std::vector<std::optional<FileIdentity>>> m_searched;
    std::chrono::steady_clock::time_point m_searchedAt{};
};

} // namespace kmb
