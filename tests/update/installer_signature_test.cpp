// The installer check's platform parts: SHA-256 from the AES provider, the hold that keeps a
// checked installer from being changed before it runs, and the road without pins.
#include "update/installer_signature.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    EXPECT_TRUE(test_support::WriteFileBytes(path, "MZ stand-in installer"));
    return path;
}

}  // namespace

TEST(Sha256Hex, GivesTheStandardDigests)
{
    DWORD error = 1;
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              Sha256Hex("abc", 3, error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
              Sha256Hex("", 0, error));
}

TEST(HeldInstaller, DeniesWritingRenamingAndDeletingButLetsItBeStarted)
{
    const std::wstring path = TempFile(L"held-installer-test.exe");
    const std::wstring moved = path + L".moved";
    {
        HeldInstaller held;
        ASSERT_TRUE(held.Open(path));
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_FALSE(MoveFileW(path.c_str(), moved.c_str()));

        // How the loader opens a program it starts.
        HANDLE loader = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, loader);
        if (loader != INVALID_HANDLE_VALUE)
            CloseHandle(loader);

        // The hold moves with its owner and ends with the last one.
        HeldInstaller kept = std::move(held);
        EXPECT_EQ(INVALID_HANDLE_VALUE, held.get());
        EXPECT_FALSE(DeleteFileW(path.c_str()));
    }
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    DeleteFileW(moved.c_str());
}

TEST(AcceptInstaller, WithoutPinsAcceptsAnythingAndHoldsNothing)
{
    const std::wstring path = TempFile(L"unpinned-installer-test.exe");
    SetPinnedSigners(L"");
    HeldInstaller held;
    EXPECT_FALSE(HasPinnedSigners());
    EXPECT_TRUE(AcceptInstaller(path, held));
    EXPECT_EQ(INVALID_HANDLE_VALUE, held.get());

    // With a pin, the same unsigned file is refused and left free.
    SetPinnedSigners(L"E158FCE856B69B79F9A0061821316A1AD04D91BB959CD018B934A80FEB53204C");
    EXPECT_TRUE(HasPinnedSigners());
    EXPECT_FALSE(AcceptInstaller(path, held));
    EXPECT_EQ(INVALID_HANDLE_VALUE, held.get());

    // A list mangled on its way into the build closes the door instead of opening it.
    SetPinnedSigners(L"E158FCE856B69B79");
    EXPECT_TRUE(HasPinnedSigners());
    EXPECT_FALSE(AcceptInstaller(path, held));
    SetPinnedSigners(L" ; ");
    EXPECT_FALSE(HasPinnedSigners());
    SetPinnedSigners(nullptr);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}
