#pragma once

#include <QLockFile>
#include <QObject>
#include <memory>

namespace kmb {

// One utility per user session. The first instance holds a lock file in the runtime
// directory and owns the bus name com.korvanta.KorvantaMenuBar; a later one asks it to
// open its dashboard and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.korvanta.KorvantaMenuBar")

public:
    static constexpr char serviceName[] = "com.korvanta.KorvantaMenuBar";
    static constexpr char objectPath[] = "/com/korvanta/KorvantaMenuBar";

    // `lockPath`: the lock file; empty means the default in the runtime directory.
    explicit SingleInstance(QString lockPath = {}, QObject* parent = nullptr);

    // True when this process is the first instance; it then serves requests.
    bool claim();
    // Asks the first instance to open its dashboard; false when nobody answered.
    static bool askRunningInstanceToShowDashboard();

public slots:
    // Called over the session bus by a later instance.
    Q_SCRIPTABLE void ShowDashboard();

signals:
    void showDashboardRequested();

private:
    QString m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kmb
