#pragma once

#include <QString>

class QWidget;

namespace kmb {

class AboutWindowView;

// Owns the one About window of the process: created on first use, hidden (not destroyed)
// when closed, shown again centred on every request.
class AboutWindowController {
public:
    static AboutWindowController& shared();

    AboutWindowController(const AboutWindowController&) = delete;
    AboutWindowController& operator=(const AboutWindowController&) = delete;

    // Shows the window centred on the current screen, in front, and activates it.
    void show();
    // The version line the window shows.
    QString versionText() const;

private:
    AboutWindowController();

    QWidget* m_window = nullptr;
};

} // namespace kmb
