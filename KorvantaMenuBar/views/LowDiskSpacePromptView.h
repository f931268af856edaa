#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

class QLabel;

namespace kmb {

class PlainTextButton;

// The bar under the volume name: a track and a coloured part for the space in use.
class UsageBar : public QWidget {
    Q_OBJECT

public:
    explicit UsageBar(double fraction, QWidget* parent = nullptr);

    double fillWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fraction;
};

// The once-a-day warning that the home volume is nearly full. Shows a snapshot; the two
// buttons only call their actions.
class LowDiskSpacePromptView : public QWidget {
    Q_OBJECT

public:
    static constexpr int promptWidth = 338;
    static constexpr int promptHeight = 202;

    LowDiskSpacePromptView(QString diskName, std::int64_t availableBytes, std::int64_t totalBytes,
                           std::function<void()> dismiss, std::function<void()> openApp,
                           QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildMessageArea(const QString& diskName, std::int64_t availableBytes,
                              std::int64_t totalBytes);
    QWidget* buildButtonBar();

    std::function<void()> m_dismiss;
    std::function<void()> m_openApp;
    QWidget* m_driveIcon = nullptr;
    QWidget* m_separator = nullptr;
    QWidget* m_buttonBar = nullptr;
};

} // namespace kmb
