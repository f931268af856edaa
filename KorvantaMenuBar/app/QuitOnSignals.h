#pragma once

#include <QObject>

class QSocketNotifier;

namespace kmb {

// Turns SIGTERM and SIGINT into an orderly quit of the event loop (exit status 0), so
// the settings are flushed and nothing is torn down halfway.
class QuitOnSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kmb
