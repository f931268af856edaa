#pragma once

#include "menubar/TrayDBusTypes.h"

#include <QDBusConnection>
#include <QHash>
#include <QMenu>
#include <QObject>
#include <QPointer>

class QAction;

namespace kmb {

class DBusMenuAdaptor;

// A dbusmenu label: '_' marks the access key there, so a literal underscore doubles, and
// Qt's '&' marker becomes '_' ("&&" stays a literal '&').
QString dbusMenuLabel(const QString& actionText);

// Exports a menu's actions, one level deep, as a com.canonical.dbusmenu object on `bus` at
// `objectPath`, for tray hosts that draw the menu themselves. Entries keep their ids for as
// long as their action stays in the menu; a host's click triggers the action.
class DBusMenuExporter : public QObject {
    Q_OBJECT

public:
    DBusMenuExporter(QDBusConnection bus, const QString& objectPath, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // nullptr: an empty menu.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class DBusMenuAdaptor;

    QList<QAction*> entries() const;
    int idOf(QAction* action);
    QAction* actionWithId(int id) const;
    // The properties of entry `id` (0: the root), those named in `names` or all when empty.
    QVariantMap properties(int id, const QStringList& names) const;
    bool exists(int id) const { return id == 0 || actionWithId(id); }
    DBusMenuLayoutItem layout(int parentId, int depth, const QStringList& names);
    void handleEvent(int id, const QString& eventId);
    void layoutChanged();

    QDBusConnection m_bus;
    QString m_objectPath;
    DBusMenuAdaptor* m_adaptor = nullptr;
    QPointer<QMenu> m_menu;
    QHash<QAction*, int> m_ids;
    int m_nextId = 1;
    uint m_revision = 1; // mutate: ignore (any start will do; hosts follow the changes)
};

} // namespace kmb
