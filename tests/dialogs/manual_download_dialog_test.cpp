// The manual-download dialog, shown for real under Wine and worked like a person would: the
// steps with the link in place, the link on the clipboard, and which answers close it.
#include <gtest/gtest.h>

#include <thread>

#include "dialogs/dialog_user.h"
#include "dialogs/manual_download_dialog.h"
#include "presentation/font_settings.h"
#include "support/test_support.h"

using namespace dialog_test;

namespace {

constexpr int kCopyLink = 1004;
constexpr int kInstructions = 1002;

const std::wstring kStepOne = L"1、請複製此下載連結：";
const std::wstring kDownloadElsewhere = L"使用其它瀏覽器或下載軟體進行下載。";

std::wstring StepTwo(const std::wstring& fileName)
{
    return L"2、下載完成後執行“" + fileName + L"”，安裝將在背景執行，請耐心等待1-2分鐘。";
}

std::wstring Instructions(const std::wstring& link, const std::wstring& fileName)
{
    return kStepOne + L"\r\n" + link + L"\r\n" + kDownloadElsewhere + L"\r\n\r\n" + StepTwo(fileName);
}

class ManualDownloadDialog : public DialogTest {
protected:
    void Offer(const std::wstring& serverPath, const std::wstring& fileName)
    {
        m_link = serverPath + fileName;
        m_fileName = fileName;
    }

    INT_PTR Show(const std::function<void(const DialogUser&, HWND)>& script)
    {
        CManualDownloadDlg dialog(m_link, m_fileName);
        return ShowAndUse(dialog, Owner(), script);
    }

    std::wstring m_link;
    std::wstring m_fileName;
};

TEST_F(ManualDownloadDialog, ShowsTheStepsWithTheLinkOnALineOfItsOwn)
{
    const HFONT launcherFont = GetFontSettings().m_hFont.Get();
    ASSERT_NE(nullptr, launcherFont);
    const std::wstring link = L"http://127.0.0.1:8080/files/Setup.exe";
    Offer(L"http://127.0.0.1:8080/files/", L"Setup.exe");

    const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
        EXPECT_EQ(Owner(), GetWindow(dialog, GW_OWNER));
        EXPECT_EQ(L"請按照以下步驟操作", TextOf(dialog));
        HWND copy = GetDlgItem(dialog, kCopyLink);
        HWND box = GetDlgItem(dialog, kInstructions);
        EXPECT_EQ(L"複製連結", TextOf(copy));
        EXPECT_EQ(Instructions(link, L"Setup.exe"), TextOf(box));
        for (HWND window : {copy, box})
            EXPECT_EQ(launcherFont, FontOf(window));

        // CR LF breaks the text into lines; the second step is long enough to wrap.
        const std::vector<std::wstring> lines = EditLines(box);
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(kStepOne, lines[0]);
        EXPECT_EQ(link, lines[1]);
        EXPECT_EQ(kDownloadElsewhere, lines[2]);
        EXPECT_EQ(L"", lines[3]);
        std::wstring stepTwo;
        for (size_t i = 4; i < lines.size(); ++i)
            stepTwo += lines[i];
        EXPECT_EQ(StepTwo(L"Setup.exe"), stepTwo);

        RECT rect = {};
        GetWindowRect(dialog, &rect);
        const POINT centred = CentredOrigin(rect);
        EXPECT_EQ(centred.x, rect.left);
        EXPECT_EQ(centred.y, rect.top);

        user.CloseBox(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
}

// Enter and the button both copy exactly the link; only Escape (or the close box) closes.
TEST_F(ManualDownloadDialog, CopiesExactlyTheLinkAndStaysOpenUntilEscape)
{
    const std::wstring link = L"http://127.0.0.1:8080/files/Setup 2.6.exe";
    Offer(L"http://127.0.0.1:8080/files/", L"Setup 2.6.exe");

    const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
        HWND copy = GetDlgItem(dialog, kCopyLink);
        HWND box = GetDlgItem(dialog, kInstructions);
        ASSERT_TRUE(user.WaitForFocus(copy)) << "the copy button has the first focus";

        DWORD sequence = GetClipboardSequenceNumber();
        user.Press(VK_RETURN);
        EXPECT_EQ(link, ClipboardTextAfter(sequence)) << "Enter";
        EXPECT_TRUE(IsUp(dialog));

        sequence = GetClipboardSequenceNumber();
        user.Click(copy);
        EXPECT_EQ(link, ClipboardTextAfter(sequence)) << "copy button";
        EXPECT_TRUE(IsUp(dialog));

        user.Click(box);
        ASSERT_TRUE(user.WaitForFocus(box));
        Sleep(200);
        EXPECT_TRUE(IsUp(dialog)) << "a click into the instructions closed the dialog";
        EXPECT_EQ(Instructions(link, L"Setup 2.6.exe"), TextOf(box));

        user.Press(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, result);
}

TEST_F(ManualDownloadDialog, WithAnEmptyServerPathTheLinkIsTheBareFileName)
{
    Offer(L"", L"Setup.exe");

    const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
        HWND copy = GetDlgItem(dialog, kCopyLink);
        const std::vector<std::wstring> lines = EditLines(GetDlgItem(dialog, kInstructions));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(L"Setup.exe", lines[1]);

        ASSERT_TRUE(user.WaitForFocus(copy));
        const DWORD sequence = GetClipboardSequenceNumber();
        user.Click(copy);
        EXPECT_EQ(L"Setup.exe", ClipboardTextAfter(sequence));
        user.Press(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, result);
}

// The instructions have a fixed room and are cut; the clipboard gets the whole link.
TEST_F(ManualDownloadDialog, ALinkTooLongForTheInstructionsIsStillCopiedWhole)
{
    const std::wstring serverPath = L"http://127.0.0.1/" + std::wstring(1200, L'a') + L"/";
    Offer(serverPath, L"Setup.exe");
    const std::wstring whole = Instructions(serverPath + L"Setup.exe", L"Setup.exe");

    const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
        const std::wstring shown = TextOf(GetDlgItem(dialog, kInstructions));
        EXPECT_EQ(1023u, shown.size());
        EXPECT_EQ(whole.substr(0, shown.size()), shown);

        HWND copy = GetDlgItem(dialog, kCopyLink);
        ASSERT_TRUE(user.WaitForFocus(copy));
        const DWORD sequence = GetClipboardSequenceNumber();
        user.Click(copy);
        EXPECT_EQ(serverPath + L"Setup.exe", ClipboardTextAfter(sequence));
        user.CloseBox(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
}

// The English table is complete: a thread that reads it gets the steps in English, with the
// link and the file name in place, and the rest of the dialog in English too.
TEST_F(ManualDownloadDialog, TheStepsComeFromTheThreadsTableOrStayEmpty)
{
    Offer(L"http://127.0.0.1/files/", L"Setup.exe");
    INT_PTR result = 0;
    std::thread english([&] {
        SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
        result = Show([](const DialogUser& user, HWND dialog) {
            EXPECT_EQ(L"1. Please copy this download link:\r\nhttp://127.0.0.1/files/Setup.exe\r\n"
                      L"and download it with another browser or download program.\r\n\r\n"
                      L"2. When the download has finished, run \"Setup.exe\". It installs in the "
                      L"background; please wait 1-2 minutes.",
                      TextOf(GetDlgItem(dialog, kInstructions)));
            EXPECT_EQ(L"Please follow these steps", TextOf(dialog));
            EXPECT_EQ(L"Copy link", TextOf(GetDlgItem(dialog, kCopyLink)));
            user.Press(VK_ESCAPE);
        });
    });
    english.join();
    EXPECT_EQ(IDCANCEL, result);

    // A table without the steps (Japanese) leaves the instructions empty; the dialog still
    // works.
    std::thread japanese([&] {
        SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT));
        result = Show([](const DialogUser& user, HWND dialog) {
            EXPECT_EQ(L"", TextOf(GetDlgItem(dialog, kInstructions)));
            user.Press(VK_ESCAPE);
        });
    });
    japanese.join();
    EXPECT_EQ(IDCANCEL, result);
}

TEST(CopyTextToClipboard, FailsAndChangesNothingWhileAnotherWindowHoldsTheClipboard)
{
    ASSERT_TRUE(PutOnClipboard(L"kept"));
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool held = false;
    std::thread holder([&] {
        HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        held = OpenClipboard(window) != FALSE;
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
        if (held)
            CloseClipboard();
        DestroyWindow(window);
    });
    const bool holderReady = WaitForSingleObject(opened, 10000) == WAIT_OBJECT_0;
    const bool copied = holderReady && CopyTextToClipboard(nullptr, L"new");
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);

    ASSERT_TRUE(held) << "the other window could not open the clipboard";
    EXPECT_FALSE(copied);
    std::wstring text;
    ASSERT_TRUE(ReadClipboard(&text));
    EXPECT_EQ(L"kept", text);

    // Once it is free again the same copy goes through, and the window it names owns it.
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    EXPECT_TRUE(CopyTextToClipboard(owner, L"new"));
    EXPECT_EQ(owner, GetClipboardOwner());
    ASSERT_TRUE(ReadClipboard(&text));
    EXPECT_EQ(L"new", text);
    DestroyWindow(owner);
}

}  // namespace
