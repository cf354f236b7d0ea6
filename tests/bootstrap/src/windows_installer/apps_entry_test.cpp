#include "windows_installer/apps_entry.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "lib/product.hpp"
#include "process/child_process.hpp"
#include "support/windows_test_support.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/registry_string.hpp"

namespace vantrel {
namespace {

const std::wstring entry_path =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvaneLauncher";

// A value as the registry holds it; REG_NONE: there is no such value.
struct RawValue {
    std::wstring name;
    DWORD type;
    std::string data;
    bool operator==(const RawValue&) const = default;
};
void PrintTo(const RawValue& value, std::ostream* out) {
    *out << path_text(value.name) << ' ' << value.type << ' '
         << ::testing::PrintToString(value.data);
}

std::string units(std::wstring_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}
// UTF-16LE with the terminating NUL unit.
RawValue sz(std::wstring name, std::wstring_view text) {
    return {std::move(name), REG_SZ, units(text) + std::string(2, '\0')};
}

void put(const RawValue& value) {
    if (value.type == REG_NONE) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, entry_path.c_str(), value.name.c_str());
        return;
    }
    // The system counts a NUL unit right after a string's data in; a unit that is not
    // NUL keeps the data as given.
    const std::string padded = value.data + "\x01\x01";
    RegSetKeyValueW(HKEY_CURRENT_USER, entry_path.c_str(), value.name.c_str(), value.type,
                    padded.data(), DWORD(value.data.size()));
}

RawValue get(const std::wstring& name) {
    std::string data(70000, '\0');
    DWORD type = REG_NONE;
    DWORD size = DWORD(data.size());
    if (RegGetValueW(HKEY_CURRENT_USER, entry_path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                     &type, data.data(), &size) != ERROR_SUCCESS) {
        return {name, REG_NONE, ""};
    }
    return {name, type, data.substr(0, size)};
}

bool entry_exists() {
    HKEY opened = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, entry_path.c_str(), 0, KEY_READ, &opened);
    const RegistryKey key(opened);
    return status == ERROR_SUCCESS;
}

std::string outcome(const Status& status) {
    return status ? "ok" : status.error().display();
}

// The entry as Wine's own reg.exe lists it, without carriage returns.
std::string reg_query(const testing::ScratchFolder& scratch) {
    wchar_t system[MAX_PATH];
    const std::wstring folder(system, GetSystemDirectoryW(system, MAX_PATH));
    const std::wstring listing = scratch.file(L"reg.txt");
    const UniqueHandle out(CreateFileW(listing.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto input = open_null_device();
    const std::wstring key = L"HKCU\\" + entry_path;
    if (!input)
        return input.error().text();
    const auto child = start_child(
        {join_path(folder, L"reg.exe"), {L"query", key}, input->get(), out.get(), out.get()});
    if (!child)
        return child.error().text();
    WaitForSingleObject(child->handle(), INFINITE);
    std::string text = testing::read_file(listing).value_or("");
    std::erase(text, '\r');
    return text;
}

// The entry's values in their order, with the type and data as reg.exe shows them.
struct FormatRow {
    std::wstring name;
    std::string type;
    std::string shown;
};
std::vector<FormatRow> entry_format(const std::wstring& product) {
    const std::string quoted = "\"" + path_text(product) + "\\Vantrel.exe\"";
    return {{L"DisplayName", "REG_SZ", "Orvanis Launcher"},
            {L"Publisher", "REG_SZ", "Orvanis"},
            {L"DisplayVersion", "REG_SZ", std::string(product_version)},
            {L"InstallLocation", "REG_SZ", path_text(product)},
            {L"DisplayIcon", "REG_SZ", quoted + ",0"},
            {L"UninstallString", "REG_SZ", quoted + " --uninstall"},
            {L"ModifyPath", "REG_SZ", quoted + " --repair"},
            {L"NoModify", "REG_DWORD", "0x0"},
            {L"NoRepair", "REG_DWORD", "0x0"}};
}
RawValue stored(const FormatRow& row) {
    if (row.type == "REG_DWORD")
        return {row.name, REG_DWORD, std::string(4, '\0')};
    return sz(row.name, to_wide(row.shown));
}

// The user's own product folder with a bootstrap in it and no Apps entry: in a
// disposable test prefix, with everything made here removed.
class AppsEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto folder = product_folder();
        ASSERT_TRUE(folder) << folder.error().display();
        product = *folder;
        if (entry_exists())
            GTEST_SKIP() << "this user has an Apps entry of the product";
        if (testing::exists(product))
            GTEST_SKIP() << "this system has a product folder of its own: " << path_text(product);
        if (const Status safe = ensure_no_links(product); !safe)
            GTEST_SKIP() << "the product folder is refused here: " << safe.error().display();
        ASSERT_TRUE(CreateDirectoryW(product.c_str(), nullptr));
        owned = true;
        testing::write_file(bootstrap(), "bootstrap");
    }
    void TearDown() override {
        if (owned) {
            RegDeleteTreeW(HKEY_CURRENT_USER, entry_path.c_str());
            EXPECT_TRUE(remove_folder_tree(product));
        }
    }

    std::wstring bootstrap() const { return join_path(product, L"Vantrel.exe"); }
    std::wstring command(std::wstring_view between) const {
        return L"\"" + bootstrap() + L"\"" + std::wstring(between) + L"--uninstall";
    }
    // An entry of this installation from an earlier version, with a value of someone else's.
    void put_earlier_entry() const {
        RegDeleteTreeW(HKEY_CURRENT_USER, entry_path.c_str());
        for (const RawValue& value : {sz(L"InstallLocation", product), sz(L"Publisher", L"Orvanis"),
                                      sz(L"UninstallString", command(L" ")),
                                      sz(L"DisplayVersion", L"0.0.1"), sz(L"Comments", L"kept")}) {
            put(value);
        }
    }

    std::wstring product;
    bool owned = false;
    testing::ScratchFolder scratch;
};

TEST_F(AppsEntryTest, RegistrationWritesTheNineValues) {
    ASSERT_EQ(outcome(register_apps_entry(product)), "ok");
    const std::string listed = reg_query(scratch);
    const auto entry = open_apps_entry(KEY_READ);
    ASSERT_TRUE(entry && entry->has_value());
    for (const FormatRow& row : entry_format(product)) {
        const std::string name = path_text(row.name);
        EXPECT_EQ(get(row.name), stored(row));
        const std::string line = "    " + name + "    " + row.type + "    " + row.shown + "\n";
        EXPECT_NE(listed.find(line), std::string::npos) << line << "in:\n" << listed;
        if (row.type == "REG_SZ") {
            const Result<std::string> read = read_registry_string(**entry, name);
            EXPECT_EQ(read ? *read : read.error().display(), row.shown);
        }
    }
}

TEST_F(AppsEntryTest, AnExistingEntryIsJudgedByTheOwnershipRule) {
    const std::string other = "The existing Apps entry belongs to another installation.";
    const std::string invalid = "Invalid launcher registration.";
    std::wstring lower_drive = product;
    lower_drive[0] = wchar_t(std::towlower(lower_drive[0]));
    const struct {
        const char* name;
        std::vector<RawValue> changes;
        std::optional<std::string> refusal;  // nothing: the entry is ours
    } cases[] = {
        {"trailing separator", {sz(L"InstallLocation", product + L"\\")}, {}},
        {"drive letter case", {sz(L"InstallLocation", lower_drive)}, {}},
        {"another folder", {sz(L"InstallLocation", product + L"2")}, other},
        {"later values unread",
         {sz(L"InstallLocation", product + L"2"), {L"UninstallString", REG_EXPAND_SZ, ""}},
         other},
        {"NUL inside", {sz(L"InstallLocation", product + L'\0' + L"x")}, other},
        {"command case", {sz(L"UninstallString", command(L" ") + L"X")}, other},
        {"command spacing", {sz(L"UninstallString", command(L"  "))}, other},
        {"another publisher", {sz(L"Publisher", L"orvanis")}, other},
        {"missing", {{L"InstallLocation", REG_NONE, ""}}, system_error_text(ERROR_FILE_NOT_FOUND)},
        {"REG_EXPAND_SZ", {{L"InstallLocation", REG_EXPAND_SZ, sz(L"", product).data}}, invalid},
        {"odd size", {{L"InstallLocation", REG_SZ, sz(L"", product).data + '\0'}}, invalid},
        {"no final NUL", {{L"InstallLocation", REG_SZ, units(product)}}, invalid},
        {"one byte", {{L"Publisher", REG_SZ, std::string(1, '\0')}}, invalid},
        {"lone surrogate",
         {sz(L"Publisher", L"Orvanis\xD800")},
         "invalid utf-16: lone surrogate found"},
        {"too large",
         {sz(L"UninstallString", command(L" ") + std::wstring(32768, L' '))},
         system_error_text(ERROR_MORE_DATA)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        put_earlier_entry();
        for (const RawValue& change : c.changes)
            put(change);
        {
            const auto entry = open_apps_entry(KEY_READ);
            ASSERT_TRUE(entry && entry->has_value());
            const Result<bool> ours = apps_entry_is_ours(**entry, product);
            EXPECT_EQ(ours ? (*ours ? "ours" : other) : ours.error().detail(),
                      c.refusal.value_or("ours"));
        }
        const Status registered = register_apps_entry(product);
        EXPECT_EQ(get(L"Comments"), sz(L"Comments", L"kept"));
        const std::string removal =
            c.refusal == other ? "Launcher registration does not match." : c.refusal.value_or("");
        if (!c.refusal) {
            EXPECT_EQ(outcome(registered), "ok");
            for (const FormatRow& row : entry_format(product))
                EXPECT_EQ(get(row.name), stored(row));
            EXPECT_EQ(outcome(remove_apps_entry(product)), "ok");
            EXPECT_FALSE(entry_exists());
            continue;
        }
        EXPECT_EQ(outcome(registered), "Installation failed: " + *c.refusal);
        EXPECT_EQ(get(L"DisplayVersion"), sz(L"DisplayVersion", L"0.0.1"));
        EXPECT_EQ(outcome(remove_apps_entry(product)), "Installation failed: " + removal);
        EXPECT_TRUE(entry_exists());
    }
}

TEST_F(AppsEntryTest, RefusalsLeaveTheRegistryAlone) {
    const std::wstring elsewhere = normalized_path(scratch.path());
    testing::write_file(join_path(elsewhere, L"Vantrel.exe"), "bootstrap");
    EXPECT_EQ(outcome(register_apps_entry(elsewhere)),
              "Installation failed: Unexpected launcher installation folder.");
    ASSERT_TRUE(DeleteFileW(bootstrap().c_str()));
    EXPECT_EQ(outcome(register_apps_entry(product)),
              "Installation failed: The installed launcher bootstrap is missing.");
    ASSERT_TRUE(CreateDirectoryW(bootstrap().c_str(), nullptr));
    EXPECT_EQ(outcome(register_apps_entry(product)),
              "Installation failed: The installed launcher bootstrap is missing.");
    EXPECT_FALSE(entry_exists());
    EXPECT_EQ(outcome(remove_apps_entry(product)),
              "Installation failed: Launcher registration is missing.");

    put_earlier_entry();
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, (entry_path + L"\\Child").c_str(), &opened),
              ERROR_SUCCESS);
    RegistryKey(opened).reset();  // closed at once
    EXPECT_EQ(outcome(remove_apps_entry(product)),
              "Installation failed: Unexpected launcher registration children.");
    EXPECT_TRUE(entry_exists());
}

// Also shows the order of the writes: exactly those before the failing one happened.
TEST_F(AppsEntryTest, AFailedWriteTakesBackOnlyAKeyThisRunCreated) {
    const std::vector<FormatRow> format = entry_format(product);
    for (const bool existed : {false, true}) {
        for (std::size_t failing = 0; failing < format.size(); ++failing) {
            SCOPED_TRACE(::testing::Message() << "existed " << existed << ", failing " << failing);
            RegDeleteTreeW(HKEY_CURRENT_USER, entry_path.c_str());
            if (existed)
                put_earlier_entry();
            std::vector<RawValue> before;
            for (const FormatRow& row : format)
                before.push_back(get(row.name));
            std::size_t writes = 0;
            const Status registered = register_apps_entry(
                product,
                [&](HKEY key, const std::wstring& name, DWORD type, std::span<const BYTE> data) {
                    if (writes++ == failing)
                        return LSTATUS(ERROR_ACCESS_DENIED);
                    return write_registry_value(key, name, type, data);
                });
            EXPECT_EQ(outcome(registered),
                      "Installation failed: " + system_error_text(ERROR_ACCESS_DENIED));
            EXPECT_EQ(writes, failing + 1);
            EXPECT_EQ(entry_exists(), existed);
            for (std::size_t i = 0; existed && i < format.size(); ++i)
                EXPECT_EQ(get(format[i].name), i < failing ? stored(format[i]) : before[i]);
        }
    }
}

}  // namespace
}  // namespace vantrel
