// Naming the home volume from a fake mount table, /dev/disk/by-label and os-release.

#include "status/VolumeNames.h"
#include "TestSupport.h"

#include <unistd.h>

namespace {

using kmb::test::FakeTree;

const QByteArray rootMount = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
const QByteArray home = rootMount + "30 22 8:2 / /home rw - ext4 /dev/sda2 rw\n";
constexpr char debian[] = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                          "NAME=\"Debian GNU/Linux\"\nID=debian\n";

TEST(VolumeNames, LabelElseTheSystemForTheRootElseTheMountPointElseThePlaceholder)
{
    const struct {
        QByteArray mountInfo;        // empty: no mount table at all
        const char* osRelease;       // etc/os-release; nullptr: none
        const char* vendorOsRelease; // usr/lib/os-release; nullptr: none
        const char* path;
        const char* expected;
    } rows[] = {
        // The label of the device mounted there, found through udev's links.
        {rootMount + "30 22 8:2 / /home rw shared:2 - ext4 /dev/sda2 rw\n", debian, nullptr,
         "/home/anna", "Data Café"},
        {rootMount + "31 22 254:1 / /home rw - btrfs /dev/mapper/vg-home rw\n", debian, nullptr,
         "/home/anna", "Home"},
        // The root filesystem without a label: the system's name; /etc before /usr/lib.
        {home, debian, nullptr, "/home2/anna", "Debian GNU/Linux"},
        {rootMount, nullptr, "NAME='Fedora \"Linux\"'\n", "/var/home/anna", "Fedora \"Linux\""},
        {rootMount, "ID=debian\n", "NAME=Other\n", "/", "Linux"},
        {rootMount, "NAME=\"A \\\"quoted\\\" \\$name\"\n", nullptr, "/", "A \"quoted\" $name"},
        // Otherwise the mount point's last component; the last of stacked mounts counts.
        {rootMount + "40 22 0:30 / /tmp/wayland-prolonged\\040session rw - tmpfs tmpfs rw\n",
         debian, nullptr, "/tmp/wayland-prolonged session/x", "wayland-prolonged session"},
        {rootMount + "41 22 0:31 / /srv/old\\134new rw - tmpfs tmpfs rw\n", debian, nullptr,
         "/srv/old\\new", "old\\new"},
        {home + "41 30 0:40 / /home rw - tmpfs tmpfs rw\n", debian, nullptr, "/home/anna", "home"},
        {QByteArray("garbage\n- - -\n1 2 3\n30 22 8:2 / /home rw - ext4\n") + rootMount, debian,
         nullptr, "/home", "Debian GNU/Linux"},
        // Nothing to go by.
        {"", debian, nullptr, "/home/anna", "Macintosh HD"},
        {"30 22 8:2 / /home rw - ext4 /dev/sda2 rw\n", debian, nullptr, "/srv", "Macintosh HD"},
        {rootMount, nullptr, nullptr, "/home/anna", "Macintosh HD"},
    };
    for (const auto& row : rows) {
        const FakeTree tree;
        tree.write("dev/sda1", "");
        tree.write("dev/sda2", "");
        tree.write("dev/dm-1", "");
        ASSERT_TRUE(QDir().mkpath(tree.path("dev/disk/by-label")));
        ASSERT_TRUE(QDir().mkpath(tree.path("dev/mapper")));
        for (const auto& [target, link] :
             {std::pair{"../../sda2", "dev/disk/by-label/Data\\x20Caf\\xC3\\xa9"},
              {"../../dm-1", "dev/disk/by-label/Home"},
              {"../dm-1", "dev/mapper/vg-home"}})
            ASSERT_EQ(::symlink(target, QFile::encodeName(tree.path(link)).constData()), 0);
        if (!row.mountInfo.isEmpty())
            tree.write("proc/self/mountinfo", row.mountInfo);
        if (row.osRelease)
            tree.write("etc/os-release", row.osRelease);
        if (row.vendorOsRelease)
            tree.write("usr/lib/os-release", row.vendorOsRelease);
        const kmb::VolumeNames names =
            kmb::readVolumeNames(QString::fromUtf8(row.path), tree.path("proc"), tree.root());
        EXPECT_EQ(kmb::volumeDisplayName(names).toStdString(), row.expected)
            << row.mountInfo.toStdString() << row.path;
    }
}

} // namespace
