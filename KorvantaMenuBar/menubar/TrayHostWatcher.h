#pragma once

#include <QObject>
#include <QTimer>

namespace kmb {

// Waits until something can show a tray icon: an XEmbed tray manager owning the
// _NET_SYSTEM_TRAY_S<n> selection, or a StatusNotifierItem host registered with the
// watcher on the session bus. Qt picks its tray backend at the first tray call of the
// process and never again, so no tray call may happen before this reports ready().
class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    explicit TrayHostWatcher(QObject* parent = nullptr);

    void start();

signals:
    void ready();

private:
    void poll();
    bool xembedTrayPresent() const;
    void querySniHost();
    void markReady();

    QTimer m_pollTimer;
    bool m_ready = false;
    bool m_sniQueryPending = false;
};

} // namespace kmb
