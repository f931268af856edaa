// A menu exported over dbusmenu on a private bus, read and clicked as a tray host does.

#include "UiTestSupport.h"

#include "menubar/DBusMenuExporter.h"

#include <QDBusMessage>
#include <QTest>

namespace {

const QString menuPath = QStringLiteral("/MenuBar");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

TEST(DBusMenuExporter, LayoutAndClicksAfterTheReply)
{
    kmb::test::PrivateBus bus;
    QDBusConnection menuBus = bus.connect(), host = bus.connect();
    QMenu menu;
    menu.addAction("关于 Korvanta");
    menu.addSeparator();
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
    const auto entries = [&](int depth) {
        const QDBusMessage reply = call("GetLayout", {0, depth, QStringList()});
        return qdbus_cast<kmb::DBusMenuLayoutItem>(reply.arguments().value(1)).children;
    };
    const QList<kmb::DBusMenuLayoutItem> shown = entries(-1);
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
    // Hosts tell the root (0) that the menu opened: a known entry, not an error.
    const kmb::DBusMenuEventList events{{999, "clicked", QDBusVariant(0), 0},
                                        {0, "opened", QDBusVariant(0), 0},
                                        {shown[0].id, "clicked", QDBusVariant(0), 0}};
    EXPECT_EQ(qdbus_cast<QList<int>>(
                  call("EventGroup", {QVariant::fromValue(events)}).arguments().value(0)),
              QList<int>{999}); // unknown
    EXPECT_TRUE(QTest::qWaitFor([&] { return triggered.size() == 2; }));
    EXPECT_EQ(triggered, QStringList({"Save_as && &Quit&", "关于 Korvanta"}));
}

} // namespace
