// Our item on a private bus, with a watcher of the test's own and calls as the hosts make them.

#include "UiTestSupport.h"

#include "menubar/StatusNotifierItem.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

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

struct StatusNotifierItemTest : ::testing::Test {
    kmb::test::PrivateBus bus;
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

TEST_F(StatusNotifierItemTest, RegistersAgainUntilTheWatcherListsItAndWhenItReturns)
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
    EXPECT_EQ(name, itemBus.baseService());

    watcherBus.unregisterService(watcherName);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->isRegistered(); }));
    watcher.listed.resize(1);
    ASSERT_TRUE(watcherBus.registerService(watcherName));
    EXPECT_TRUE(QTest::qWaitFor([&] { return item->isRegistered() && watcher.listed.size() > 1; }));
}

TEST_F(StatusNotifierItemTest, HostCallsPropertiesIconPixmapsInNetworkOrderAndTheMenu)
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

    EXPECT_EQ(itemProperty("Id").toString(), "KorvantaMenuBar");
    EXPECT_EQ(itemProperty("Category").toString(), "ApplicationStatus");
    EXPECT_EQ(itemProperty("Status").toString(), "Active");
    EXPECT_FALSE(itemProperty("ItemIsMenu").toBool());
    EXPECT_EQ(itemProperty("WindowId"), QVariant(0));
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

    // Without a menu, hosts are told to ask for ours (ContextMenu); with one, they read it.
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), "/NO_DBUSMENU");
    QMenu menu;
    menu.addAction("打开面板");
    item->setMenu(&menu);
    const QDBusMessage layout = call(itemProperty("Menu").value<QDBusObjectPath>().path(),
                                     "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    const auto root = qdbus_cast<kmb::DBusMenuLayoutItem>(layout.arguments().value(1));
    ASSERT_EQ(root.children.size(), 1);
    EXPECT_EQ(root.children[0].properties.value("label"), "打开面板");
}

} // namespace

#include "StatusNotifierItemTest.moc"
