// Our item on a private bus, with a watcher of the test's own and calls as the hosts make them.

#include "UiTestSupport.h"

#include "menubar/StatusNotifierItem.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMenu>
#include <QTest>

#include <memory>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");

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

// Then what hosts call: Activate and ProvideXdgActivationToken are every host's click and the
// end-to-end tests' calls; the others are here.
TEST(StatusNotifierItem, RegistersUntilListedAndWhenTheWatcherReturnsThenAnswersHosts)
{
    kmb::test::PrivateBus bus;
    QDBusConnection itemBus = bus.connect(), watcherBus = bus.connect(), client = bus.connect();
    FakeWatcher watcher;
    watcherBus.registerObject("/StatusNotifierWatcher", &watcher,
                              QDBusConnection::ExportAllContents);
    ASSERT_TRUE(watcherBus.registerService(watcherName));
    std::unique_ptr<kmb::StatusNotifierItem> item;
    qsizetype callsWhenRegistered = 0;
    const auto itemProperty = [&](const QString& key) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            itemBus.baseService(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
        get.setArguments({"org.kde.StatusNotifierItem", key});
        const QDBusMessage reply = client.call(get, QDBus::BlockWithGui);
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    };
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
        item.reset(); // its objects' paths go with it
        item = std::make_unique<kmb::StatusNotifierItem>(itemBus);
        QObject::connect(item.get(), &kmb::StatusNotifierItem::registeredChanged,
                         [&](bool on) { callsWhenRegistered = on ? watcher.calls.size() : 0; });
        // Until the watcher lists the new item and the item knows it is registered.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return watcher.listed.size() > 1 && item->isRegistered(); }, 20'000));
        EXPECT_EQ(watcher.calls.size(), row.calls);
        EXPECT_EQ(callsWhenRegistered, row.callsWhenRegistered);
    }
    EXPECT_EQ(watcher.calls.value(0), itemBus.baseService());

    watcherBus.unregisterService(watcherName);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->isRegistered(); }));
    watcher.listed.resize(1);
    ASSERT_TRUE(watcherBus.registerService(watcherName));
    EXPECT_TRUE(QTest::qWaitFor([&] { return item->isRegistered() && watcher.listed.size() > 1; }));

    const std::pair<const char*, QVariant> properties[] = {
        {"Id", "KorvantaMenuBar"}, {"Category", "ApplicationStatus"},
        {"Title", "Korvanta"},     {"Status", "Active"},
        {"WindowId", 0},           {"ItemIsMenu", false},
        {"IconName", ""},          {"AttentionMovieName", ""}};
    for (const auto& [key, value] : properties)
        EXPECT_EQ(itemProperty(key), value) << key;
    EXPECT_EQ(qdbus_cast<kmb::DBusToolTip>(itemProperty("ToolTip")).title, "Korvanta");
    // Without a menu, hosts are told to ask for ours (ContextMenu); with one, they read it.
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), "/NO_DBUSMENU");
    QMenu menu;
    item->setMenu(&menu);
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), "/MenuBar");

    // Its colours (in network order) are how the desktops' tests find the icon.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::red);
    item->setIcon(QIcon(pixmap));
    QList<int> widths;
    for (const kmb::DBusImage& image : qdbus_cast<kmb::DBusImageList>(itemProperty("IconPixmap"))) {
        widths << image.width;
        EXPECT_EQ(image.pixels.size(), image.width * image.height * 4) << image.width;
    }
    EXPECT_EQ(widths, QList<int>({16, 22, 24, 32, 48, 64}));
}

} // namespace

#include "StatusNotifierItemTest.moc"
