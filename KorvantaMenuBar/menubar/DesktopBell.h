#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

namespace kmb {

// The alert sound of a launch that failed: the desktop's own "bell" from its sound theme,
// played through libcanberra, or the X bell where that plays nothing (no sound server, no
// such sound). Talking to a sound server may take its time, so the sound is played on a
// thread of the bell's own, started by the first ring: ring() returns at once and the GUI
// thread never waits. The X bell, which needs the GUI thread, is rung there.
class DesktopBell : public QObject {
    Q_OBJECT

public:
    // Plays the sound once; false when nothing could be played. Called on the bell's thread
    // only, and destroyed there once it has been called.
    using Player = std::function<bool()>;

    DesktopBell(Player player, std::function<void()> fallback, QObject* parent = nullptr);
    // Waits a moment for the bell's thread; one stuck in a sound server is left behind.
    ~DesktopBell() override;

    // The freedesktop theme's "bell" through libcanberra, QApplication::beep otherwise. The
    // sound server is contacted on the first ring, not before.
    static std::unique_ptr<DesktopBell> forThisDesktop();

    // One sound for each call, in the order of the calls. GUI thread.
    void ring();

private:
    struct Queue;
    static void playRings(const std::shared_ptr<Queue>& queue, Player player, DesktopBell* bell);

    std::shared_ptr<Queue> m_queue;
    Player m_player; // until the thread takes it
    std::function<void()> m_fallback;
    std::thread m_thread;
};

} // namespace kmb
