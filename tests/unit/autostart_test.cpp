#include "settings/settings.h"
#include "tests/unit/support.h"

namespace {
const std::u16string RunKey = u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Utf16Bytes(const std::u16string& text, bool terminator) {
    std::string out(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    if (terminator)
        out.append(2, '\0');
    return out;
}
}  // namespace

using Autostart = FakeWorld;

TEST_F(Autostart, WhatCountsAsRegistered) {
    struct Case {
        const char* name;
        bool present;
        std::uint32_t type;
        std::size_t bytes;
        bool registered;
    } cases[] = {
        {"no value", false, 0, 0, false},
        {"empty REG_SZ", true, platform::RegSz, 0, true},
        {"REG_SZ naming another program", true, platform::RegSz, 40, true},
        {"REG_EXPAND_SZ", true, platform::RegExpandSz, 40, false},
        {"REG_SZ of exactly 1040 bytes", true, platform::RegSz, 1040, true},
        {"REG_SZ of 1042 bytes", true, platform::RegSz, 1042, false},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::PutRegistryKey(RunKey);
        if (c.present)
            fake::PutRegistryValue(RunKey, u"Kestrun", c.type, std::string(c.bytes, 'a'));
        EXPECT_EQ(IsAutostartRegistered(), c.registered) << c.name;
        EXPECT_EQ(fake::CountCalls("RegCloseKey"), 1) << c.name;
    }
}

TEST_F(Autostart, ToggleWritesTheQuotedPathThenDeletesIt) {
    fake::PutRegistryKey(RunKey);
    fake::PutRegistryValue(RunKey, u"Kestrun", platform::RegExpandSz, "x");
    AppPaths.ProgramPath = u"C:\\Program Files\\Kestrun\\Kestrun.exe";
    SetAutostartRegistered(!IsAutostartRegistered());
    std::uint32_t type = 0;
    std::string bytes;
    ASSERT_TRUE(fake::GetRegistryValue(RunKey, u"Kestrun", &type, &bytes));
    EXPECT_EQ(type, platform::RegSz);
    EXPECT_EQ(bytes, Utf16Bytes(u"\"C:\\Program Files\\Kestrun\\Kestrun.exe\"", true));
    SetAutostartRegistered(!IsAutostartRegistered());
    EXPECT_FALSE(fake::GetRegistryValue(RunKey, u"Kestrun", &type, &bytes));
}

TEST_F(Autostart, SizeIncludesTheTerminator) {
    fake::PutRegistryKey(RunKey);
    AppPaths.ProgramPath = u"C:\\Tools\\Kestrun.exe";
    SetAutostartRegistered(true);
    std::uint32_t type = 0;
    std::string bytes;
    ASSERT_TRUE(fake::GetRegistryValue(RunKey, u"Kestrun", &type, &bytes));
    EXPECT_EQ(bytes.size(), 46u);
}

TEST_F(Autostart, MissingKeyIsNeverCreated) {
    AppPaths.ProgramPath = u"C:\\Tools\\Kestrun.exe";
    SetAutostartRegistered(true);
    EXPECT_FALSE(IsAutostartRegistered());
    EXPECT_EQ(fake::CountCalls("RegSetValueExW"), 0);
}
