// The download-failure dialog, shown for real under Wine and worked like a person would: what it
// shows, where, and which answer ends it with which result.
#include <gtest/gtest.h>

#include "dialogs/dialog_user.h"
#include "dialogs/download_failure_dialog.h"
#include "presentation/font_settings.h"

using namespace dialog_test;

namespace {

constexpr int kRetry = 4;
constexpr int kManual = 1003;
constexpr int kExplanation = 1012;

class DownloadFailureDialog : public DialogTest {
protected:
    INT_PTR Show(const std::function<void(const DialogUser&, HWND)>& script)
    {
        CDownloadInvDlg dialog;
        return ShowAndUse(dialog, Owner(), script);
    }
};

TEST_F(DownloadFailureDialog, ShowsTheTaiwanTextsInTheLauncherFontCentredOverItsOwner)
{
    ASSERT_NE(nullptr, Owner());
    const HFONT launcherFont = GetFontSettings().m_hFont.Get();
    ASSERT_NE(nullptr, launcherFont);

    const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
        EXPECT_EQ(Owner(), GetWindow(dialog, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(Owner())) << "the owner takes no input meanwhile";

        EXPECT_EQ(L"無法下載", TextOf(dialog));
        EXPECT_EQ(L"請重試或進行手動下載", TextOf(GetDlgItem(dialog, kExplanation)));
        EXPECT_EQ(L"重試", TextOf(GetDlgItem(dialog, kRetry)));
        EXPECT_EQ(L"手動", TextOf(GetDlgItem(dialog, kManual)));
        for (const int id : {kExplanation, kRetry, kManual})
            EXPECT_EQ(launcherFont, FontOf(GetDlgItem(dialog, id))) << "control " << id;

        RECT rect = {};
        GetWindowRect(dialog, &rect);
        const POINT centred = CentredOrigin(rect);
        EXPECT_EQ(centred.x, rect.left);
        EXPECT_EQ(centred.y, rect.top);

        // Enter straight away means Retry, the default button with the first focus.
        EXPECT_TRUE(user.WaitForFocus(GetDlgItem(dialog, kRetry)));
        user.Press(VK_RETURN);
    });

    EXPECT_EQ(kRetry, result);
    EXPECT_TRUE(IsWindowEnabled(Owner()));
}

TEST_F(DownloadFailureDialog, EachAnswerEndsItWithItsOwnResult)
{
    struct Answer {
        const char* name;
        std::function<void(const DialogUser&, HWND)> give;
        INT_PTR result;
    };
    const Answer answers[] = {
        {"Retry button", [](const DialogUser& u, HWND d) { u.Click(GetDlgItem(d, kRetry)); }, kRetry},
        {"Manual button", [](const DialogUser& u, HWND d) { u.Click(GetDlgItem(d, kManual)); }, kManual},
        {"Escape", [](const DialogUser& u, HWND) { u.Press(VK_ESCAPE); }, IDCANCEL},
        {"close box", [](const DialogUser& u, HWND d) { u.CloseBox(d); }, IDCANCEL},
    };
    for (const Answer& answer : answers) {
        SCOPED_TRACE(answer.name);
        const INT_PTR result = Show([&](const DialogUser& user, HWND dialog) {
            EXPECT_TRUE(user.WaitForFocus(GetDlgItem(dialog, kRetry)));
            answer.give(user, dialog);
        });
        EXPECT_EQ(answer.result, result);
    }
}

// A click or a tab into the sentence must not end the dialog (and with it the run); the dialog
// keeps answering afterwards.
TEST_F(DownloadFailureDialog, ClickingOrTabbingIntoTheExplanationKeepsItOpen)
{
    const INT_PTR afterClickAndTab = Show([](const DialogUser& user, HWND dialog) {
        HWND text = GetDlgItem(dialog, kExplanation);
        user.Click(text);
        ASSERT_TRUE(user.WaitForFocus(text)) << "the click did not reach the text";
        Sleep(200);
        EXPECT_TRUE(IsUp(dialog)) << "a click into the text ended the dialog";

        // From the text: Retry, Manual, then the text again.
        user.Press(VK_TAB);
        ASSERT_TRUE(user.WaitForFocus(GetDlgItem(dialog, kRetry)));
        user.Press(VK_TAB);
        ASSERT_TRUE(user.WaitForFocus(GetDlgItem(dialog, kManual)));
        user.Press(VK_TAB);
        ASSERT_TRUE(user.WaitForFocus(text));
        Sleep(200);
        EXPECT_TRUE(IsUp(dialog)) << "tabbing into the text ended the dialog";

        user.Click(GetDlgItem(dialog, kRetry));
    });
    EXPECT_EQ(kRetry, afterClickAndTab);
}

// The halving truncates toward zero, also for a window larger than the screen: an overhang
// of 3 puts it at -1, not -2.
TEST(CenterOnScreen, TruncatesTowardZeroAndShowsTheWindow)
{
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const struct {
        int width, height, x, y;
    } cases[] = {
        {screenWidth - 3, screenHeight - 5, 1, 2},
        {screenWidth + 3, screenHeight + 5, -1, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, c.width, c.height,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
        CenterOnScreen(window);
        RECT rect = {};
        GetWindowRect(window, &rect);
        EXPECT_EQ(c.x, rect.left);
        EXPECT_EQ(c.y, rect.top);
        EXPECT_EQ(c.width, rect.right - rect.left);
        EXPECT_EQ(c.height, rect.bottom - rect.top);
        EXPECT_TRUE(IsWindowVisible(window));
        DestroyWindow(window);
    }
}

}  // namespace
