#include "menubar/StatusNotifierItem.h"

#include <QDBusAbstractInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// A bus daemon of the test's own, gone with the test together with its connections.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (m_daemon.waitForReadyRead(10'000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    QDBusConnection connect()
    {
        static int count = 0;
        m_names << QStringLiteral("private-bus-%1").arg(++count);
        return QDBusConnection::connectToBus(m_address, m_names.last());
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// Answers each registration as told (the last answer repeats); lists another application's
// item from the start.
class FakeWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER listed)

public:
    enum Answer { accept, fail, forget, listSenderButFail };
    QList<Answer> answers{accept};
    QStringList calls;
    QStringList listed{"org.kde.StatusNotifierItem-1-1"};

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        calls << service;
        const Answer answer = answers.value(calls.size() - 1, answers.last());
        if (answer == accept)
            listed << service;
        if (answer == listSenderButFail)
            listed << message().service() + "@/StatusNotifierItem"; // as GNOME's host does
        if (answer == fail || answer == listSenderButFail)
            sendErrorReply(QDBusError::NoReply, "not yet");
    }
};

// Relays the dbusmenu signals, for QSignalSpy.
class MenuProxy : public QDBusAbstractInterface {
    Q_OBJECT
public:
    MenuProxy(const QString& service, const QString& path, const QDBusConnection& bus)
        : QDBusAbstractInterface(service, path, "com.canonical.dbusmenu", bus, nullptr)
    {
    }
signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const kmb::DBusMenuItemPropertiesList& updated,
                                const kmb::DBusMenuItemKeysList& removed);
};

struct StatusNotifierItemTest : ::testing::Test {
    PrivateBus bus;
    QDBusConnection itemBus = bus.connect();
    QDBusConnection watcherBus = bus.connect();
    QDBusConnection client = bus.connect();
    FakeWatcher watcher;
    std::unique_ptr<kmb::StatusNotifierItem> item;
    QString name; // the item's, as the watcher lists it
    qsizetype callsWhenRegistered = 0;

    void SetUp() override
    {
        watcherBus.registerObject("/StatusNotifierWatcher", &watcher,
                                  QDBusConnection::ExportAllContents);
        ASSERT_TRUE(watcherBus.registerService(watcherName));
    }
    // Waits until the watcher lists the new item and the item knows it is registered.
    void startItem()
    {
        item.reset(); // its objects' paths go with it
        item = std::make_unique<kmb::StatusNotifierItem>(itemBus);
        QObject::connect(item.get(), &kmb::StatusNotifierItem::registeredChanged,
                         [&](bool on) { callsWhenRegistered = on ? watcher.calls.size() : 0; });
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return watcher.listed.size() > 1 && item->isRegistered(); }, 20'000));
        name = watcher.calls.value(0);
    }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(name, path, interface, method);
        message.setArguments(arguments);
        return client.call(message, QDBus::BlockWithGui);
    }
    QVariant itemProperty(const QString& key)
    {
        const QDBusMessage reply = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                        "Get", {itemInterface, key});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
};

TEST_F(StatusNotifierItemTest, RegistersAgainWhenTheWatcherReturns)
{
    startItem();
    EXPECT_EQ(name, itemBus.baseService());

    watcherBus.unregisterService(watcherName);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->isRegistered(); }));
    watcher.listed.removeLast();
    ASSERT_TRUE(watcherBus.registerService(watcherName));
    EXPECT_TRUE(QTest::qWaitFor([&] { return item->isRegistered() && watcher.listed.size() > 1; }));
}

TEST_F(StatusNotifierItemTest, RegistersAgainUntilTheWatcherListsIt)
{
    using W = FakeWatcher;
    const struct {
        const char* watcher;
        QList<FakeWatcher::Answer> answers;
        int calls;
        int callsWhenRegistered; // the item knew itself accepted after this many calls
    } rows[] = {
        {"accepts", {W::accept}, 1, 1},
        {"object not answering yet", {W::fail, W::accept}, 2, 2},
        {"forgets the first", {W::forget, W::accept}, 2, 1},
        {"lists it GNOME's way, answer lost", {W::listSenderButFail}, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.watcher);
        watcher.answers = row.answers;
        watcher.calls.clear();
        watcher.listed.resize(1);
        startItem();
        EXPECT_EQ(watcher.calls.size(), row.calls);
        EXPECT_EQ(callsWhenRegistered, row.callsWhenRegistered);
    }
}

TEST_F(StatusNotifierItemTest, HostCallsReachTheirSignalsWithTheirPoints)
{
    startItem();
    QSignalSpy activated(item.get(), &kmb::StatusNotifierItem::activated);
    QSignalSpy secondary(item.get(), &kmb::StatusNotifierItem::secondaryActivated);
    QSignalSpy context(item.get(), &kmb::StatusNotifierItem::contextMenuRequested);
    QSignalSpy token(item.get(), &kmb::StatusNotifierItem::activationTokenProvided);
    const struct {
        const char* method;
        QVariantList arguments;
        QSignalSpy* spy;
        QVariant expected;
    } rows[] = {
        {"Activate", {1182, 16}, &activated, QPoint(1182, 16)},
        {"SecondaryActivate", {170, 778}, &secondary, QPoint(170, 778)},
        {"ContextMenu", {10, 17}, &context, QPoint(10, 17)},
        {"ProvideXdgActivationToken", {"token-42"}, &token, QString("token-42")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method);
        const QDBusMessage reply =
            call("/StatusNotifierItem", itemInterface, row.method, row.arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        ASSERT_EQ(row.spy->count(), 1);
        EXPECT_EQ(row.spy->takeFirst().value(0), row.expected);
    }
}

TEST_F(StatusNotifierItemTest, PropertiesAndIconPixmapsInNetworkOrder)
{
    startItem();
    EXPECT_EQ(itemProperty("Id").toString(), "KorvantaMenuBar");
    EXPECT_EQ(itemProperty("Category").toString(), "ApplicationStatus");
    EXPECT_EQ(itemProperty("Status").toString(), "Active");
    EXPECT_FALSE(itemProperty("ItemIsMenu").toBool());
    EXPECT_EQ(itemProperty("WindowId"), QVariant(0));
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), "/NO_DBUSMENU");
    EXPECT_EQ(qdbus_cast<kmb::DBusToolTip>(itemProperty("ToolTip")).title, "Korvanta");

    // Left half opaque red, right half half-transparent blue.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter(&pixmap).fillRect(0, 0, 32, 64, Qt::red);
    QPainter(&pixmap).fillRect(32, 0, 32, 64, QColor(0, 0, 255, 128));
    item->setIcon(QIcon(pixmap));
    QList<int> widths;
    for (const kmb::DBusImage& image : qdbus_cast<kmb::DBusImageList>(itemProperty("IconPixmap"))) {
        widths << image.width;
        SCOPED_TRACE(image.width);
        ASSERT_EQ(image.height, image.width);
        ASSERT_EQ(image.pixels.size(), image.width * image.height * 4);
        EXPECT_EQ(image.pixels.left(4).toHex(), "ffff0000");
        EXPECT_EQ(image.pixels.mid((image.width - 1) * 4, 4).toHex(), "800000ff");
    }
    EXPECT_EQ(widths, QList<int>({16, 22, 24, 32, 48, 64}));
}

struct MenuTest : StatusNotifierItemTest {
    QMenu menu;
    QAction* about = menu.addAction("关于 Korvanta");
    QAction* separator = menu.addSeparator();
    QAction* quit = menu.addAction("Save_as && &Quit&");
    QString menuPath;

    void SetUp() override
    {
        StatusNotifierItemTest::SetUp();
        startItem();
        item->setMenu(&menu);
        menuPath = itemProperty("Menu").value<QDBusObjectPath>().path();
    }
    QList<kmb::DBusMenuLayoutItem> entries(int depth = -1)
    {
        const QDBusMessage reply =
            call(menuPath, menuInterface, "GetLayout", {0, depth, QStringList()});
        return qdbus_cast<kmb::DBusMenuLayoutItem>(reply.arguments().value(1)).children;
    }
};

TEST_F(MenuTest, LayoutListsLabelsAndSeparatorsInOrder)
{
    const QList<kmb::DBusMenuLayoutItem> shown = entries();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0].properties.value("label").toString(), "关于 Korvanta");
    EXPECT_EQ(shown[1].properties.value("type").toString(), "separator");
    EXPECT_EQ(shown[2].properties.value("label").toString(), "Save__as & _Quit&");
    EXPECT_FALSE(shown[2].properties.contains("type"));
    EXPECT_EQ(entries(1).size(), 3);
    EXPECT_EQ(entries(0).size(), 0);

    const QDBusMessage reply =
        call(menuPath, menuInterface, "GetGroupProperties",
             {QVariant::fromValue(QList<int>{shown[2].id, 999}), QStringList{"label"}});
    const auto group = qdbus_cast<kmb::DBusMenuItemPropertiesList>(reply.arguments().value(0));
    ASSERT_EQ(group.size(), 1);
    EXPECT_EQ(group[0].id, shown[2].id);
    EXPECT_EQ(group[0].properties, QVariantMap({{"label", "Save__as & _Quit&"}}));
}

TEST_F(MenuTest, ClickTriggersItsActionAfterTheReplyAndNothingElse)
{
    const QList<kmb::DBusMenuLayoutItem> shown = entries();
    ASSERT_EQ(shown.size(), 3);
    QStringList triggered;
    QObject::connect(&menu, &QMenu::triggered, [&](QAction* a) { triggered << a->text(); });
    const QVariant noData = QVariant::fromValue(QDBusVariant(0));
    const struct {
        int id;
        const char* event;
    } ignored[] = {{shown[1].id, "clicked"}, {999, "clicked"}, {shown[0].id, "hovered"}};
    for (const auto& row : ignored) {
        const QDBusMessage reply =
            call(menuPath, menuInterface, "Event", {row.id, row.event, noData, 0u});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << row.id << row.event;
    }
    const kmb::DBusMenuEventList group{{999, "clicked", QDBusVariant(0), 0},
                                       {shown[1].id, "clicked", QDBusVariant(0), 0}};
    const QDBusMessage reply =
        call(menuPath, menuInterface, "EventGroup", {QVariant::fromValue(group)});
    EXPECT_EQ(qdbus_cast<QList<int>>(reply.arguments().value(0)), QList<int>{999}); // unknown
    // Through the item's own connection the call is delivered in place, without an event loop:
    // the action must not have run when the answer is back.
    QDBusMessage click =
        QDBusMessage::createMethodCall(itemBus.baseService(), menuPath, menuInterface, "Event");
    click.setArguments({shown[2].id, "clicked", noData, 0u});
    EXPECT_EQ(itemBus.call(click).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(triggered.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !triggered.isEmpty(); }));
    EXPECT_EQ(triggered, QStringList({"Save_as && &Quit&"}));
}

TEST_F(MenuTest, ChangesReachTheHost)
{
    MenuProxy proxy(name, menuPath, client);
    QSignalSpy layoutUpdated(&proxy, &MenuProxy::LayoutUpdated);
    QSignalSpy propertiesUpdated(&proxy, &MenuProxy::ItemsPropertiesUpdated);
    const int aboutId = entries().value(0).id; // a round trip: the match rules are in place

    about->setText("关于");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !propertiesUpdated.isEmpty(); }));
    const auto updated =
        propertiesUpdated.takeFirst().value(0).value<kmb::DBusMenuItemPropertiesList>();
    ASSERT_EQ(updated.size(), 1);
    EXPECT_EQ(updated[0].id, aboutId);
    EXPECT_EQ(updated[0].properties,
              QVariantMap({{"label", "关于"}, {"enabled", true}, {"visible", true}}));

    const int heightBefore = menu.sizeHint().height();
    menu.removeAction(separator);
    EXPECT_LT(menu.sizeHint().height(), heightBefore); // the menu saw it too
    ASSERT_TRUE(QTest::qWaitFor([&] { return !layoutUpdated.isEmpty(); }));
    EXPECT_EQ(layoutUpdated.takeFirst().value(1).toInt(), 0); // the whole menu, from its root
    EXPECT_EQ(entries().size(), 2);

    auto* other = new QMenu;
    other->addAction("x");
    item->setMenu(other);
    delete other;
    EXPECT_TRUE(QTest::qWaitFor([&] { return layoutUpdated.size() == 2; })); // set, then gone
    EXPECT_TRUE(entries().isEmpty());
}

} // namespace

#include "StatusNotifierItemTest.moc"
