#include "menubar/StatusNotifierItem.h"

#include "menubar/DBusMenuExporter.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

namespace kmb {

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
// What hosts take for "this item has no exported menu": they call ContextMenu instead.
const QString noMenuPath = QStringLiteral("/NO_DBUSMENU");
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
constexpr int callTimeoutMs = 5000;
// A watcher that takes its name before its object answers, or forgets us, gets us again
// after 0.5 s, then 1 s, 2 s, ... up to this many tries in all.
constexpr int firstCheckDelayMs = 500;
constexpr int maxAttempts = 6;
constexpr uint requestNameDoNotQueue = 4;
constexpr uint requestNamePrimaryOwner = 1;

int nextInstanceNumber()
{
    static int count = 0;
    return ++count;
}

template <typename Handler>
void callAsync(const QDBusConnection& bus, const QDBusMessage& message, QObject* context,
               Handler handler)
{
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(message, callTimeoutMs), context);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, context,
                     [handler](QDBusPendingCallWatcher* finished) {
                         handler(finished->reply());
                         finished->deleteLater();
                     });
}

// The icon at the sizes panels draw, as straight-alpha ARGB32 in network byte order.
DBusImageList renderIconImages(const QIcon& icon)
{
    DBusImageList images;
    if (icon.isNull())
        return images;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
        }
        image.convertTo(QImage::Format_ARGB32);
        QByteArray pixels(qsizetype(size) * size * 4, Qt::Uninitialized);
        auto* out = reinterpret_cast<uchar*>(pixels.data());
        for (int y = 0; y < size; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < size; ++x, out += 4)
                qToBigEndian<quint32>(line[x], out);
        }
        images.append({size, size, pixels});
    }
    return images;
}
} // namespace

// The org.kde.StatusNotifierItem interface over the item's state.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ emptyName)
    Q_PROPERTY(QString IconThemePath READ emptyName)
    Q_PROPERTY(kmb::DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(kmb::DBusImageList OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(kmb::DBusImageList AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ emptyName)
    Q_PROPERTY(kmb::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), m_item(item)
    {
    }

    QString id() const { return QStringLiteral("KorvantaMenuBar"); }
    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString title() const { return QStringLiteral("Korvanta"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyName() const { return {}; }
    DBusImageList iconPixmap() const { return m_item->m_iconImages; }
    DBusImageList noImages() const { return {}; }
    DBusToolTip toolTip() const { return {QString(), {}, m_item->m_toolTipTitle, QString()}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const
    {
        return QDBusObjectPath(m_item->m_menuExporter->menu() ? menuPath : noMenuPath);
    }

public slots:
    void Activate(int x, int y) { emit m_item->activated(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { emit m_item->secondaryActivated(QPoint(x, y)); }
    void ContextMenu(int x, int y) { emit m_item->contextMenuRequested(QPoint(x, y)); }
    // Nothing to scroll through: the icon shows no value that a wheel could change.
    void Scroll(int delta, const QString& orientation)
    {
        Q_UNUSED(delta)
        Q_UNUSED(orientation)
    }
    void ProvideXdgActivationToken(const QString& token)
    {
        emit m_item->activationTokenProvided(token);
    }

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)),
      m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(QCoreApplication::applicationPid())
                        .arg(nextInstanceNumber())),
      m_watcherWatcher(watcherService, m_bus, QDBusServiceWatcher::WatchForOwnerChange),
      m_toolTipTitle(QStringLiteral("Korvanta"))
{
    registerTrayDBusTypes();
    m_adaptor = new StatusNotifierItemAdaptor(this);
    m_menuExporter = new DBusMenuExporter(m_bus, menuPath, this);
    m_bus.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
    connect(&m_watcherWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                watcherOwnerChanged(newOwner);
            });
    requestServiceName();
}

StatusNotifierItem::~StatusNotifierItem()
{
    m_bus.unregisterObject(itemPath);
    if (m_serviceName != m_bus.baseService()) {
        // Without waiting for the answer: the watcher drops us when the name goes.
        QDBusMessage release = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                              QStringLiteral("ReleaseName"));
        release << m_serviceName;
        m_bus.send(release);
    }
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    if (icon.cacheKey() == m_iconKey)
        return;
    m_iconKey = icon.cacheKey();
    m_iconImages = renderIconImages(icon);
    emit m_adaptor->NewIcon();
}

void StatusNotifierItem::setToolTipTitle(const QString& title)
{
    if (title == m_toolTipTitle)
        return;
    m_toolTipTitle = title;
    emit m_adaptor->NewToolTip();
}

void StatusNotifierItem::setMenu(QMenu* menu)
{
    m_menuExporter->setMenu(menu);
}

void StatusNotifierItem::requestServiceName()
{
    QDBusMessage request = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                          QStringLiteral("RequestName"));
    request << m_serviceName << requestNameDoNotQueue;
    callAsync(m_bus, request, this, [this](const QDBusMessage& reply) {
        // Should the name be taken, hosts reach the item by the connection's own name.
        if (reply.type() != QDBusMessage::ReplyMessage ||
            reply.arguments().value(0).toUInt() != requestNamePrimaryOwner)
            m_serviceName = m_bus.baseService();
        m_serviceNameReady = true;
        startRegistration();
    });
}

void StatusNotifierItem::watcherOwnerChanged(const QString& newOwner)
{
    ++m_generation;
    setRegistered(false);
    if (!newOwner.isEmpty())
        startRegistration();
}

void StatusNotifierItem::startRegistration()
{
    if (!m_serviceNameReady)
        return;
    ++m_generation;
    m_attempts = 0;
    registerWithWatcher();
}

void StatusNotifierItem::registerWithWatcher()
{
    ++m_attempts;
    QDBusMessage registration = QDBusMessage::createMethodCall(
        watcherService, watcherPath, watcherService, QStringLiteral("RegisterStatusNotifierItem"));
    // By the connection's unique name, as Qt's own items do: GNOME's host, given a well-known
    // name, watches it besides and loses the item in a race of its own while setting it up.
    registration << m_bus.baseService();
    const int generation = m_generation;
    callAsync(m_bus, registration, this, [this, generation](const QDBusMessage& reply) {
        if (generation != m_generation)
            return;
        // No watcher at all: the service watcher calls us back when one appears.
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
            return;
        if (reply.type() == QDBusMessage::ReplyMessage)
            setRegistered(true);
        QTimer::singleShot(firstCheckDelayMs << (m_attempts - 1), this, [this, generation] {
            if (generation == m_generation)
                checkListed();
        });
    });
}

void StatusNotifierItem::checkListed()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("RegisteredStatusNotifierItems");
    const int generation = m_generation;
    callAsync(m_bus, get, this, [this, generation](const QDBusMessage& reply) {
        if (generation != m_generation)
            return;
        // Entries are a bus name, optionally followed by the object's path ("/path", or
        // "@/path" on GNOME).
        const QStringList items =
            reply.arguments().value(0).value<QDBusVariant>().variant().toStringList();
        static const QRegularExpression pathPart(QStringLiteral("@?/.*$"));
        for (QString service : items) {
            service.remove(pathPart);
            if (service == m_serviceName || service == m_bus.baseService()) {
                setRegistered(true);
                return;
            }
        }
        if (m_attempts < maxAttempts)
            registerWithWatcher();
    });
}

void StatusNotifierItem::setRegistered(bool registered)
{
    if (registered == m_registered)
        return;
    m_registered = registered;
    emit registeredChanged(registered);
}

} // namespace kmb

#include "StatusNotifierItem.moc"
