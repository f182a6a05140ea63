// The update record: one per process, starting empty; UpdateInfo copies are independent values.
#include <gtest/gtest.h>

#include "update/update_record.h"

TEST(UpdateRecord, IsOneRecordThatStartsEmpty)
{
    UpdateRecord& record = GetUpdateRecord();
    EXPECT_EQ(&record, &GetUpdateRecord());
    EXPECT_EQ(0, record.localMajor + record.localMinor + record.info.ReturnCode +
                     record.info.UpdateAvailable);
    EXPECT_EQ(L"", record.replyText + record.info.LatestSKU + record.info.LatestVersion +
                       record.info.ServerPath + record.info.FileName + record.info.MD5 +
                       record.info.FileSize);
}

TEST(UpdateInfo, CopiesAndGetterResultsAreIndependentOfTheOriginal)
{
    UpdateInfo original;
    original.ReturnCode = 1;
    original.UpdateAvailable = 1;
    original.SetLatestSKU(L"024-K1187-05");
    original.SetLatestVersion(L"2.06");
    original.SetServerPath(L"http://files.example/osker/");
    original.SetFileName(L"Setup_2.06.exe");
    original.SetMD5(L"0123456789abcdef0123456789abcdef");
    original.SetFileSize(L"123456");

    const UpdateInfo copy(original);
    original.ReturnCode = original.UpdateAvailable = 0;
    for (auto setter :
         {&UpdateInfo::SetLatestSKU, &UpdateInfo::SetLatestVersion, &UpdateInfo::SetServerPath,
          &UpdateInfo::SetFileName, &UpdateInfo::SetMD5, &UpdateInfo::SetFileSize})
        (original.*setter)(L"changed");

    EXPECT_EQ(1, copy.ReturnCode);
    EXPECT_EQ(1, copy.UpdateAvailable);
    EXPECT_EQ(L"024-K1187-05", copy.LatestSKU);
    EXPECT_EQ(L"2.06", copy.GetLatestVersion());
    EXPECT_EQ(L"http://files.example/osker/", copy.GetServerPath());
    EXPECT_EQ(L"Setup_2.06.exe", copy.GetFileName());
    EXPECT_EQ(L"0123456789abcdef0123456789abcdef", copy.GetMD5());
    EXPECT_EQ(L"123456", copy.GetFileSize());

    std::wstring version = copy.GetLatestVersion();
    version += L"-changed by the caller";
    EXPECT_EQ(L"2.06", copy.GetLatestVersion());
}

TEST(UpdateInfo, DownloadLinkGluesFileNameToServerPathWithoutRepair)
{
    UpdateInfo info;
    info.SetServerPath(L"http://files.example/osker/");
    info.SetFileName(L"Setup.exe");
    EXPECT_EQ(L"http://files.example/osker/Setup.exe", info.GetDownloadLink());

    info.SetServerPath(L"http://files.example/osker");
    info.SetFileName(L" Setup 2.exe");
    EXPECT_EQ(L"http://files.example/osker Setup 2.exe", info.GetDownloadLink());
}
