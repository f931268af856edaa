// A menu exported over dbusmenu on a private bus, read and clicked as a tray host does.

#include "UiTestSupport.h"

#include "menubar/DBusMenuExporter.h"

#include <QDBusAbstractInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString menuPath = QStringLiteral("/MenuBar");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// Relays the dbusmenu signals, for QSignalSpy.
class MenuProxy : public QDBusAbstractInterface {
    Q_OBJECT
public:
    MenuProxy(const QString& service, const QDBusConnection& bus)
        : QDBusAbstractInterface(service, menuPath, "com.canonical.dbusmenu", bus, nullptr)
    {
    }
signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const kmb::DBusMenuItemPropertiesList& updated,
                                const kmb::DBusMenuItemKeysList& removed);
};

TEST(DBusMenuExporter, LayoutClicksAfterTheReplyAndChanges)
{
    kmb::test::PrivateBus bus;
    QDBusConnection menuBus = bus.connect(), host = bus.connect();
    QMenu menu;
    QAction* about = menu.addAction("关于 Korvanta");
    QAction* separator = menu.addSeparator();
    menu.addAction("Save_as && &Quit&");
    kmb::DBusMenuExporter exporter{menuBus, menuPath};
    exporter.setMenu(&menu);
    // From the host; through the menu's own connection the call is delivered in place.
    const auto call = [&](const QString& method, const QVariantList& arguments,
                          bool fromHost = true) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(menuBus.baseService(), menuPath, menuInterface, method);
        message.setArguments(arguments);
        return fromHost ? host.call(message, QDBus::BlockWithGui) : menuBus.call(message);
    };
    const auto entries = [&](int depth = -1, uint* revision = nullptr) {
        const QDBusMessage reply = call("GetLayout", {0, depth, QStringList()});
        if (revision)
            *revision = reply.arguments().value(0).toUInt();
        return qdbus_cast<kmb::DBusMenuLayoutItem>(reply.arguments().value(1)).children;
    };
    MenuProxy proxy(menuBus.baseService(), host);
    QSignalSpy layoutUpdated(&proxy, &MenuProxy::LayoutUpdated);
    QSignalSpy propertiesUpdated(&proxy, &MenuProxy::ItemsPropertiesUpdated);
    // Past this round trip the match rules hold; the set-up's update may still come after it.
    uint revision = 0;
    const QList<kmb::DBusMenuLayoutItem> shown = entries(-1, &revision);
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0].properties.value("label").toString(), "关于 Korvanta");
    EXPECT_EQ(shown[1].properties.value("type").toString(), "separator");
    // '_' marks the access key in dbusmenu, '&' in Qt.
    EXPECT_EQ(shown[2].properties.value("label").toString(), "Save__as & _Quit&");
    EXPECT_FALSE(shown[2].properties.contains("type"));
    EXPECT_EQ(entries(0).size(), 0);
    const QVariantList wanted{QVariant::fromValue(QList<int>{999, shown[2].id}),
                              QStringList{"label"}};
    const auto group = qdbus_cast<kmb::DBusMenuItemPropertiesList>(
        call("GetGroupProperties", wanted).arguments().value(0));
    ASSERT_EQ(group.size(), 1);
    EXPECT_EQ(std::pair(group[0].id, group[0].properties),
              std::pair(shown[2].id, QVariantMap({{"label", "Save__as & _Quit&"}})));

    // A click triggers its action after the reply, and nothing else triggers anything.
    QStringList triggered;
    QObject::connect(&menu, &QMenu::triggered, [&](QAction* a) { triggered << a->text(); });
    const QVariant noData = QVariant::fromValue(QDBusVariant(0));
    const struct {
        int id;
        const char* event;
    } ignored[] = {{shown[1].id, "clicked"}, {999, "clicked"}, {shown[0].id, "hovered"}};
    for (const auto& row : ignored)
        EXPECT_EQ(call("Event", {row.id, row.event, noData, 0u}).type(), QDBusMessage::ReplyMessage)
            << row.id << row.event;
    // Delivered in place, without an event loop: the action has not run when the answer is back.
    EXPECT_EQ(call("Event", {shown[2].id, "clicked", noData, 0u}, false).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_TRUE(triggered.isEmpty());
    const kmb::DBusMenuEventList events{{999, "clicked", QDBusVariant(0), 0},
                                        {shown[0].id, "clicked", QDBusVariant(0), 0}};
    EXPECT_EQ(qdbus_cast<QList<int>>(
                  call("EventGroup", {QVariant::fromValue(events)}).arguments().value(0)),
              QList<int>{999}); // unknown
    EXPECT_TRUE(QTest::qWaitFor([&] { return triggered.size() == 2; }));
    EXPECT_EQ(triggered, QStringList({"Save_as && &Quit&", "关于 Korvanta"}));

    about->setText("关于");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !propertiesUpdated.isEmpty(); }));
    const auto updated =
        propertiesUpdated.takeFirst().value(0).value<kmb::DBusMenuItemPropertiesList>();
    ASSERT_EQ(updated.size(), 1);
    EXPECT_EQ(std::pair(updated[0].id, updated[0].properties),
              std::pair(shown[0].id,
                        QVariantMap({{"label", "关于"}, {"enabled", true}, {"visible", true}})));
    const auto parentsUpdated = [&] {
        QList<int> parents; // of each later layout update
        for (const QList<QVariant>& update : std::as_const(layoutUpdated))
            if (update.value(0).toUInt() > revision)
                parents << update.value(1).toInt();
        return parents;
    };
    menu.removeAction(separator);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !parentsUpdated().isEmpty(); }));
    EXPECT_EQ(parentsUpdated(), QList<int>{0}); // the whole menu, from its root
    EXPECT_EQ(entries().size(), 2);
    menu.addAction("更多"); // entries added later, as the settings menu's are
    ASSERT_TRUE(QTest::qWaitFor([&] { return parentsUpdated().size() >= 2; }));
    EXPECT_EQ(entries().size(), 3);
    auto* other = new QMenu;
    other->addAction("x");
    exporter.setMenu(other);
    delete other;
    EXPECT_TRUE(QTest::qWaitFor([&] { return parentsUpdated().size() >= 4; })); // set, then gone
    EXPECT_EQ(parentsUpdated().size(), 4);
    EXPECT_TRUE(entries().isEmpty());
}

} // namespace

#include "DBusMenuExporterTest.moc"
