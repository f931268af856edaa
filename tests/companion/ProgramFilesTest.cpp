// Which program files we run: the rule on what stat() tells (the files themselves are the
// launcher's test).

#include "companion/ProgramFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kmb;

// A regular file that no one but its owner can change, owned by us or by root.
TEST(ProgramFiles, WhoMayChangeTheFileDecides)
{
    constexpr uid_t root = 0, us = 1000, someoneElse = 1001;
    const struct {
        uid_t owner, runningAs;
        mode_t mode;
        const char* refusal; // nullptr: may run
    } cases[] = {
        {us, us, S_IFREG | 0755, nullptr},
        {root, us, S_IFREG | 0755, nullptr},
        {someoneElse, us, S_IFREG | 0755, "/p is owned by another user (uid 1001)"},
        {us, root, S_IFREG | 0755, "/p is owned by another user (uid 1000)"},
        {us, us, S_IFREG | 0775, "/p is writable by group or others"},
        {root, us, S_IFREG | 0757, "/p is writable by group or others"},
        {us, us, S_IFDIR | 0755, "/p is not a regular file"},
        {us, us, S_IFIFO | 0755, "/p is not a regular file"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusalToRunFile("/p", c.owner, c.mode, c.runningAs)
                      .value_or("may run")
                      .section(';', 0, 0),
                  c.refusal ? c.refusal : "may run")
            << c.owner << " " << c.runningAs << " " << std::oct << c.mode;
}
