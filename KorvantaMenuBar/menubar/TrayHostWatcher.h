#pragma once

#include <QObject>
#include <QTimer>

namespace kmb {

// Waits until something can show a tray icon: a StatusNotifierItem host registered with the
// watcher on the session bus (preferred: it tells where it was clicked), else an XEmbed tray
// manager owning the _NET_SYSTEM_TRAY_S<n> selection. No tray icon may be made before this
// reports ready(): Qt picks its tray backend at the first tray call and never again.
class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    enum class Host { xembed, statusNotifier };
    // How long a desktop may take to bring its tray up before we say there is none.
    static constexpr int noHostAfterMs = 10'000;

    explicit TrayHostWatcher(QObject* parent = nullptr);

    void start();
    bool isReady() const { return m_ready; }

signals:
    void ready(kmb::TrayHostWatcher::Host host);
    // No host after noHostAfterMs; the watch goes on, and ready() may still come.
    void noHostFound();

private:
    void poll();
    bool xembedTrayPresent() const;
    void markReady(Host host);

    QTimer m_pollTimer;
    QTimer m_noHostTimer;
    bool m_ready = false;
    bool m_sniQueryPending = false;
};

} // namespace kmb
