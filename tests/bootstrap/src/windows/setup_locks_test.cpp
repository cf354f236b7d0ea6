#include "windows/setup_locks.hpp"

#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include "layout_test_support.hpp"
#include "support/windows_test_support.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using testing::exists;
using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

std::string lock_failure(DWORD code) {
    return "Another setup may be running, or the install folder is not writable. " +
           system_error_text(code);
}

class SetupLocksTest : public ::testing::Test {
  protected:
    std::wstring folder() const { return normalized_path(scratch.path()); }
    std::wstring lock_path() const { return scratch.file(L".bootstrap-install.lock"); }
    ScratchFolder scratch;
};

TEST_F(SetupLocksTest, ALockIsCreatedEmptyAndAdmitsNoSecondHolder) {
    for (const Stage stage : {Stage::Bootstrap, Stage::Installation}) {
        auto held = acquire_lock(folder(), L".bootstrap-install.lock", stage);
        ASSERT_TRUE(held) << held.error().display();
        EXPECT_EQ(read_claim(*held).value(), Bytes{});

        // Not re-entrant: the same process is refused like any other.
        const auto second = acquire_lock(folder(), L".bootstrap-install.lock", stage);
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().stage(), stage);
        EXPECT_EQ(second.error().detail(), lock_failure(ERROR_SHARING_VIOLATION));
        // Nor can anything else open the file while it is held.
        EXPECT_FALSE(read_file(lock_path()));
    }
    // Let go of: free again, and left in place.
    EXPECT_TRUE(exists(lock_path()));
    EXPECT_TRUE(acquire_lock(folder(), L".bootstrap-install.lock", Stage::Bootstrap));
}

TEST_F(SetupLocksTest, ALockHeldByAnotherSetupFailsAtOnceAndChangesNothing) {
    write_file(lock_path(), ".bootstrap-setup-Old123");
    std::string failure;
    auto other = testing::HolderProcess::start(
        L"lock \"" + folder() + L"\" .bootstrap-install.lock 600", failure);
    ASSERT_TRUE(other) << failure;

    const auto attempt = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Installation);
    ASSERT_FALSE(attempt);
    EXPECT_EQ(attempt.error().display(),
              "Installation failed: " + lock_failure(ERROR_SHARING_VIOLATION));

    // A setup that ended abnormally releases its lock with its process.
    other->stop();
    EXPECT_EQ(read_file(lock_path()), ".bootstrap-setup-Old123");
    auto held = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Installation);
    ASSERT_TRUE(held) << held.error().display();
    EXPECT_EQ(as_text(read_claim(*held).value()), ".bootstrap-setup-Old123");
}

TEST_F(SetupLocksTest, AnotherSetupCannotTakeALockThisOneHolds) {
    auto held = acquire_lock(folder(), L".launcher-setup.lock", Stage::Installation);
    ASSERT_TRUE(held);
    std::string failure;
    const auto other = testing::HolderProcess::start(
        L"lock \"" + folder() + L"\" .launcher-setup.lock 600", failure);
    EXPECT_FALSE(other);
    EXPECT_EQ(failure,
              "lock_holder said: Installation failed: " + lock_failure(ERROR_SHARING_VIOLATION));
}

TEST_F(SetupLocksTest, AFileLeftBehindBlocksNobody) {
    std::string failure;
    // The holder takes the lock and ends by itself.
    auto ended = testing::HolderProcess::start(L"lock \"" + folder() + L"\" .launcher-setup.lock 0",
                                               failure);
    ASSERT_TRUE(ended) << failure;
    ended->stop();
    EXPECT_TRUE(exists(scratch.file(L".launcher-setup.lock")));
    EXPECT_TRUE(acquire_lock(folder(), L".launcher-setup.lock", Stage::Installation));
}

TEST_F(SetupLocksTest, AFolderThatCannotHoldTheLockFileFails) {
    const std::wstring missing = scratch.file(L"Vantrel\\bin");
    const auto attempt = acquire_lock(missing, L".launcher-setup.lock", Stage::Installation);
    ASSERT_FALSE(attempt);
    EXPECT_EQ(attempt.error().detail(), lock_failure(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(exists(scratch.file(L"Vantrel")));
}

TEST_F(SetupLocksTest, AReadOnlyLockFileIsNotWritable) {
    write_file(lock_path(), "content");
    ASSERT_TRUE(SetFileAttributesW(lock_path().c_str(), FILE_ATTRIBUTE_READONLY));
    if (UniqueHandle(CreateFileW(lock_path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr))) {
        SetFileAttributesW(lock_path().c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "this system lets read-only files be opened for writing (Wine as root)";
    }
    const auto attempt = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Bootstrap);
    ASSERT_FALSE(attempt);
    EXPECT_EQ(attempt.error().detail(), lock_failure(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_file(lock_path()), "content");
    SetFileAttributesW(lock_path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SetupLocksTest, AFolderWithoutWritePermissionFails) {
    const std::wstring product = scratch.file(L"Vantrel");
    ASSERT_TRUE(CreateDirectoryW(product.c_str(), nullptr));
    // Deny creating files in the folder to everyone.
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    EXPLICIT_ACCESSW deny{};
    deny.grfAccessPermissions = FILE_ADD_FILE;
    deny.grfAccessMode = DENY_ACCESS;
    deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    deny.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    const DWORD made = SetEntriesInAclW(1, &deny, nullptr, &acl);
    const DWORD applied =
        made == ERROR_SUCCESS
            ? SetNamedSecurityInfoW(const_cast<LPWSTR>(product.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr)
            : made;
    LocalFree(acl);
    FreeSid(everyone);

    write_file(join_path(product, L"probe"), "");
    if (applied != ERROR_SUCCESS || exists(join_path(product, L"probe"))) {
        GTEST_SKIP() << "this system does not enforce folder permissions (Wine keeps no ACLs)";
    }
    const auto attempt = acquire_lock(product, L".bootstrap-install.lock", Stage::Bootstrap);
    ASSERT_FALSE(attempt);
    EXPECT_EQ(attempt.error().detail(), lock_failure(ERROR_ACCESS_DENIED));
}

TEST_F(SetupLocksTest, ClaimsReplaceTheContentAndStayAfterRelease) {
    {
        auto held = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Bootstrap);
        ASSERT_TRUE(held);
        for (const std::string_view name :
             {".bootstrap-setup-LongerName", ".bootstrap-setup-Ab3dE6", ""}) {
            const IoStatus recorded = record_claim(*held, name);
            ASSERT_TRUE(recorded) << recorded.error().text();
            EXPECT_EQ(as_text(read_claim(*held).value()), name);
            // Reading leaves nothing in the way of the next record or read.
            EXPECT_EQ(as_text(read_claim(*held).value()), name);
        }
        ASSERT_TRUE(record_claim(*held, ".bootstrap-setup-Ab3dE6"));
    }
    EXPECT_EQ(read_file(lock_path()), ".bootstrap-setup-Ab3dE6");
    auto next_run = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Bootstrap);
    ASSERT_TRUE(next_run);
    EXPECT_EQ(as_text(read_claim(*next_run).value()), ".bootstrap-setup-Ab3dE6");
}

TEST_F(SetupLocksTest, AClaimLongerThanTheLimitIsRefused) {
    for (const auto& [size, fits] :
         {std::pair{std::size_t(16384), true}, std::pair{std::size_t(16385), false}}) {
        write_file(lock_path(), std::string(size, 'c'));
        auto held = acquire_lock(folder(), L".bootstrap-install.lock", Stage::Bootstrap);
        ASSERT_TRUE(held);
        const auto claim = read_claim(*held);
        ASSERT_EQ(claim.ok(), fits) << size;
        if (claim) {
            EXPECT_EQ(claim->size(), size);
        } else {
            EXPECT_EQ(claim.error().text(), "File exceeds setup's size limit");
        }
    }
}

}  // namespace
}  // namespace vantrel
