#include "menubar/DBusMenuExporter.h"

#include <QAction>
#include <QActionEvent>
#include <QDBusAbstractAdaptor>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>

namespace kmb {

namespace {
const QString typeKey = QStringLiteral("type");
const QString labelKey = QStringLiteral("label");
const QString enabledKey = QStringLiteral("enabled");
const QString visibleKey = QStringLiteral("visible");
const QString childrenDisplayKey = QStringLiteral("children-display");
} // namespace

QString dbusMenuLabel(const QString& actionText)
{
    QString label;
    label.reserve(actionText.size() + 4);
    for (qsizetype i = 0; i < actionText.size(); ++i) {
        const QChar c = actionText.at(i);
        if (c == u'&' && i + 1 < actionText.size()) {
            if (actionText.at(i + 1) == u'&') {
                label += u'&';
                ++i;
            } else {
                label += u'_';
            }
        } else if (c == u'_') {
            label += QStringLiteral("__");
        } else {
            label += c;
        }
    }
    return label;
}

// The com.canonical.dbusmenu interface; every call goes to the exporter. Unknown ids and
// events get empty answers, not errors: hosts log errors or drop the whole menu over them.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenuExporter* exporter)
        : QDBusAbstractAdaptor(exporter), m_exporter(exporter)
    {
    }

    uint version() const { return 3; }
    QString textDirection() const
    {
        const bool rightToLeft = m_exporter->menu() ? m_exporter->menu()->isRightToLeft()
                                                    : QGuiApplication::isRightToLeft();
        return rightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   kmb::DBusMenuLayoutItem& layout)
    {
        layout = m_exporter->layout(parentId, recursionDepth, propertyNames);
        return m_exporter->m_revision;
    }

    kmb::DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                       const QStringList& propertyNames)
    {
        QList<int> wanted = ids;
        if (wanted.isEmpty()) {
            wanted << 0;
            for (QAction* action : m_exporter->entries())
                wanted << m_exporter->idOf(action);
        }
        DBusMenuItemPropertiesList result;
        for (int id : wanted) {
            if (m_exporter->exists(id))
                result.append({id, m_exporter->properties(id, propertyNames)});
        }
        return result;
    }

    QDBusVariant GetProperty(int id, const QString& name)
    {
        const QVariant value = m_exporter->properties(id, {name}).value(name);
        return QDBusVariant(value.isValid() ? value : QVariant(QString()));
    }

    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp)
    {
        Q_UNUSED(data)
        Q_UNUSED(timestamp)
        m_exporter->handleEvent(id, eventId);
    }

    QList<int> EventGroup(const kmb::DBusMenuEventList& events)
    {
        QList<int> idErrors;
        for (const DBusMenuEvent& event : events) {
            if (!m_exporter->exists(event.id))
                idErrors << event.id;
            else
                m_exporter->handleEvent(event.id, event.eventId);
        }
        return idErrors;
    }

    // The entries never change on their own just before showing: no update is needed.
    bool AboutToShow(int id)
    {
        Q_UNUSED(id)
        return false;
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
    {
        for (int id : ids) {
            if (!m_exporter->exists(id))
                idErrors << id;
        }
        return {};
    }

signals:
    void ItemsPropertiesUpdated(const kmb::DBusMenuItemPropertiesList& updatedProps,
                                const kmb::DBusMenuItemKeysList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenuExporter* m_exporter;
};

DBusMenuExporter::DBusMenuExporter(QDBusConnection bus, const QString& objectPath, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_objectPath(objectPath)
{
    registerTrayDBusTypes(); // mutate: ignore (the item registers them before making us)
    m_adaptor = new DBusMenuAdaptor(this);
    m_bus.registerObject(m_objectPath, this, QDBusConnection::ExportAdaptors);
}

DBusMenuExporter::~DBusMenuExporter()
{
    m_bus.unregisterObject(m_objectPath);
}

void DBusMenuExporter::setMenu(QMenu* menu)
{
    if (menu == m_menu)
        return;
    if (m_menu) {
        m_menu->removeEventFilter(this);
        disconnect(m_menu, nullptr, this, nullptr);
    }
    m_menu = menu;
    m_ids.clear();
    if (m_menu) {
        m_menu->installEventFilter(this);
        connect(m_menu, &QObject::destroyed, this, [this] {
            m_ids.clear();
            layoutChanged();
        });
    }
    layoutChanged();
}

QList<QAction*> DBusMenuExporter::entries() const
{
    return m_menu ? m_menu->actions() : QList<QAction*>();
}

int DBusMenuExporter::idOf(QAction* action)
{
    auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd())
        return *found;
    const int id = m_nextId++;
    m_ids.insert(action, id);
    return id;
}

QAction* DBusMenuExporter::actionWithId(int id) const
{
    // Only actions still in the menu: a removed action's id is never reused, so a host that
    // clicks an entry it has not yet seen disappear reaches nothing.
    QAction* action = m_ids.key(id, nullptr);
    return action && entries().contains(action) ? action : nullptr;
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names) const
{
    QVariantMap all;
    if (id == 0) {
        all.insert(childrenDisplayKey, QStringLiteral("submenu"));
    } else if (QAction* action = actionWithId(id)) {
        if (action->isSeparator())
            all.insert(typeKey, QStringLiteral("separator"));
        else
            all.insert(labelKey, dbusMenuLabel(action->text()));
        all.insert(enabledKey, action->isEnabled());
        all.insert(visibleKey, action->isVisible());
    }
    if (names.isEmpty())
        return all;
    QVariantMap chosen;
    for (const QString& name : names) {
        if (all.contains(name))
            chosen.insert(name, all.value(name));
    }
    return chosen;
}

DBusMenuLayoutItem DBusMenuExporter::layout(int parentId, int depth, const QStringList& names)
{
    DBusMenuLayoutItem item{parentId, properties(parentId, names), {}};
    // One level only: entries have no children, and depth 0 asks for none.
    if (parentId != 0 || depth == 0)
        return item;
    for (QAction* action : entries()) {
        const int id = idOf(action);
        item.children.append({id, properties(id, names), {}});
    }
    return item;
}

void DBusMenuExporter::handleEvent(int id, const QString& eventId)
{
    QAction* action = actionWithId(id);
    if (!action || eventId != QLatin1String("clicked") || action->isSeparator() ||
        !action->isEnabled())
        return;
    // After the reply has gone out: the action may open a popup or run a nested loop.
    QTimer::singleShot(0, action, &QAction::trigger);
}

void DBusMenuExporter::layoutChanged()
{
    ++m_revision;
    emit m_adaptor->LayoutUpdated(m_revision, 0);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    // Installed on the menu only. No look at `watched` itself: the menu's own destructor
    // sends events, when it is no longer a QMenu.
    Q_UNUSED(watched)
    switch (event->type()) {
    case QEvent::ActionAdded:
        layoutChanged();
        break;
    case QEvent::ActionRemoved:
        // Only frees the entry: ids are looked up among the menu's actions anyway.
        m_ids.remove(static_cast<QActionEvent*>(event)->action()); // mutate: ignore
        layoutChanged();
        break;
    case QEvent::ActionChanged: {
        QAction* action = static_cast<QActionEvent*>(event)->action();
        const int id = idOf(action);
        const QVariantMap current = properties(id, {});
        QStringList gone;
        for (const QString& key : {typeKey, labelKey}) {
            if (!current.contains(key))
                gone << key;
        }
        emit m_adaptor->ItemsPropertiesUpdated({{id, current}}, {{id, gone}});
        break;
    }
    default:
        break;
    }
    return false; // the menu itself needs every one of them
}

} // namespace kmb

#include "DBusMenuExporter.moc"
