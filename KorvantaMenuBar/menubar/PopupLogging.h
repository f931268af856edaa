#pragma once

#include <QLoggingCategory>

namespace kmb {

// Why a popup opened or closed, off by default:
// QT_LOGGING_RULES="korvanta.popup.debug=true" korvanta-menubar
Q_DECLARE_LOGGING_CATEGORY(lcPopup)

} // namespace kmb
