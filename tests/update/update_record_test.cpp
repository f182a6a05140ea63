// The update record: one per process, starting empty; UpdateInfo copies are independent values.
#include <gtest/gtest.h>

#include "update/update_record.h"

namespace {

UpdateInfo FilledInfo()
{
    UpdateInfo info;
    info.ReturnCode = 1;
    info.SetLatestSKU(L"024-K1187-05");
    info.SetLatestVersion(L"2.06");
    info.UpdateAvailable = 1;
    info.SetServerPath(L"http://files.example/osker/");
    info.SetFileName(L"Setup_2.06.exe");
    info.SetMD5(L"0123456789abcdef0123456789abcdef");
    info.SetFileSize(L"123456");
    return info;
}

}  // namespace

TEST(UpdateRecord, IsOneRecordThatStartsEmpty)
{
    UpdateRecord& record = GetUpdateRecord();
    EXPECT_EQ(&record, &GetUpdateRecord());
    EXPECT_EQ(0, record.localMajor);
    EXPECT_EQ(0, record.localMinor);
    EXPECT_TRUE(record.replyText.empty());
    EXPECT_EQ(0, record.info.ReturnCode);
    EXPECT_EQ(0, record.info.UpdateAvailable);
    for (const std::wstring* text :
         {&record.info.LatestSKU, &record.info.LatestVersion, &record.info.ServerPath,
          &record.info.FileName, &record.info.MD5, &record.info.FileSize})
        EXPECT_TRUE(text->empty());

    // What one caller stores, the next one finds.
    record.localMajor = 2;
    record.info.SetFileName(L"Setup.exe");
    EXPECT_EQ(2, GetUpdateRecord().localMajor);
    EXPECT_EQ(L"Setup.exe", GetUpdateRecord().info.GetFileName());
}

TEST(UpdateInfo, CopiesAndGetterResultsAreIndependentOfTheRecord)
{
    UpdateInfo original = FilledInfo();
    UpdateInfo copy(original);

    original.ReturnCode = 0;
    original.UpdateAvailable = 0;
    original.SetLatestSKU(L"x");
    original.SetLatestVersion(L"x");
    original.SetServerPath(L"x");
    original.SetFileName(L"x");
    original.SetMD5(L"x");
    original.SetFileSize(L"x");

    const UpdateInfo expected = FilledInfo();
    EXPECT_EQ(expected.ReturnCode, copy.ReturnCode);
    EXPECT_EQ(expected.UpdateAvailable, copy.UpdateAvailable);
    EXPECT_EQ(expected.LatestSKU, copy.LatestSKU);
    EXPECT_EQ(expected.LatestVersion, copy.GetLatestVersion());
    EXPECT_EQ(expected.ServerPath, copy.GetServerPath());
    EXPECT_EQ(expected.FileName, copy.GetFileName());
    EXPECT_EQ(expected.MD5, copy.GetMD5());
    EXPECT_EQ(expected.FileSize, copy.GetFileSize());

    // A getter's result belongs to the caller.
    std::wstring version = copy.GetLatestVersion();
    version += L"-changed";
    std::wstring path = copy.GetServerPath();
    path.clear();
    EXPECT_EQ(L"2.06", copy.GetLatestVersion());
    EXPECT_EQ(L"http://files.example/osker/", copy.GetServerPath());
}

TEST(UpdateInfo, DownloadLinkGluesFileNameToServerPathWithoutRepair)
{
    UpdateInfo info;
    info.SetServerPath(L"http://files.example/osker/");
    info.SetFileName(L"Setup.exe");
    EXPECT_EQ(L"http://files.example/osker/Setup.exe", info.GetDownloadLink());

    info.SetServerPath(L"http://files.example/osker");
    EXPECT_EQ(L"http://files.example/oskerSetup.exe", info.GetDownloadLink());

    info.SetFileName(L" Setup 2.exe ");
    EXPECT_EQ(L"http://files.example/osker Setup 2.exe ", info.GetDownloadLink());

    EXPECT_EQ(L"", UpdateInfo().GetDownloadLink());
}
