#include "menubar/DesktopBell.h"

#include <QApplication>
#include <canberra.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <system_error>

namespace kmb {

namespace {

// How long quitting waits for a bell's thread that is still talking to a sound server.
constexpr std::chrono::milliseconds exitWait{500};

// One libcanberra context, opened by the first play. A context whose sound server went away
// is opened again on the next play; one that has no "bell" sound keeps its connection.
class CanberraBell {
public:
    CanberraBell() = default;
    CanberraBell(const CanberraBell&) = delete;
    CanberraBell& operator=(const CanberraBell&) = delete;
    ~CanberraBell() { close(); }

    bool play()
    {
        if (!m_context && !open())
            return false;
        const int result =
            ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "bell", CA_PROP_EVENT_DESCRIPTION,
                            "Korvanta did not open", nullptr);
        if (result != CA_SUCCESS && result != CA_ERROR_NOTFOUND)
            close();
        return result == CA_SUCCESS;
    }

private:
    bool open()
    {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            return false;
        }
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "KorvantaMenuBar",
                                CA_PROP_APPLICATION_ID, "com.korvanta.KorvantaMenuBar",
                                CA_PROP_APPLICATION_ICON_NAME, "com.korvanta.KorvantaMenuBar",
                                nullptr);
        if (ca_context_open(m_context) == CA_SUCCESS)
            return true;
        close();
        return false;
    }

    void close()
    {
        if (m_context)
            ca_context_destroy(m_context);
        m_context = nullptr;
    }

    ca_context* m_context = nullptr;
};

} // namespace

// Shared by the GUI thread and the bell's thread, which may outlive the bell.
struct DesktopBell::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    int pending = 0;
    bool closing = false;
    bool finished = false;
};

DesktopBell::DesktopBell(Player player, std::function<void()> fallback, QObject* parent)
    : QObject(parent), m_queue(std::make_shared<Queue>()), m_player(std::move(player)),
      m_fallback(std::move(fallback))
{
}

DesktopBell::~DesktopBell()
{
    if (!m_thread.joinable())
        return;
    std::unique_lock lock(m_queue->mutex);
    m_queue->closing = true;
    m_queue->wake.notify_all();
    // Finished means the thread has let go of the lock and is leaving.
    if (m_queue->done.wait_for(lock, exitWait, [this] { return m_queue->finished; }))
        m_thread.join();
    else
        m_thread.detach(); // it holds the queue and posts nothing once closing
}

std::unique_ptr<DesktopBell> DesktopBell::forThisDesktop()
{
    auto canberra = std::make_shared<CanberraBell>();
    return std::make_unique<DesktopBell>([canberra] { return canberra->play(); },
                                         &QApplication::beep);
}

void DesktopBell::ring()
{
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&DesktopBell::playRings, m_queue, std::move(m_player), this);
        } catch (const std::system_error&) {
            if (m_fallback)
                m_fallback(); // no thread to be had: the X bell at least
            return;
        }
    }
    const std::lock_guard lock(m_queue->mutex);
    ++m_queue->pending;
    m_queue->wake.notify_one();
}

void DesktopBell::playRings(const std::shared_ptr<Queue>& queue, Player player, DesktopBell* bell)
{
    // Only for whoever looks at the process's threads.
    pthread_setname_np(pthread_self(), "desktop-bell"); // mutate: ignore
    std::unique_lock lock(queue->mutex);
    while (true) {
        queue->wake.wait(lock, [&] { return queue->pending > 0 || queue->closing; });
        if (queue->closing)
            break;
        --queue->pending;
        lock.unlock();
        const bool played = player && player();
        lock.lock();
        // Posted under the lock: the bell, which takes the lock before it goes, is still
        // there, and its destruction discards what it has not received.
        if (!played && !queue->closing)
            QMetaObject::invokeMethod(
                bell,
                [bell] {
                    if (bell->m_fallback)
                        bell->m_fallback();
                },
                Qt::QueuedConnection);
    }
    lock.unlock();
    player = nullptr; // the sound server's connection is closed on the thread that used it
    const std::lock_guard relock(queue->mutex);
    queue->finished = true;
    queue->done.notify_all();
}

} // namespace kmb
