// The installer's address is the announced server path followed by the file name, unrepaired.
#include <gtest/gtest.h>

#include "update/update_record.h"

TEST(UpdateInfo, DownloadLinkGluesFileNameToServerPathWithoutRepair)
{
    UpdateInfo info;
    info.ServerPath = L"http://files.example/osker/";
    info.FileName = L"Setup.exe";
    EXPECT_EQ(L"http://files.example/osker/Setup.exe", info.GetDownloadLink());

    info.ServerPath = L"http://files.example/osker";
    info.FileName = L" Setup 2.exe";
    EXPECT_EQ(L"http://files.example/osker Setup 2.exe", info.GetDownloadLink());
}
