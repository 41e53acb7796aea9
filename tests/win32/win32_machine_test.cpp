// The install for all users on the system itself: the task's XML as a file,
// the machine folder's access, the fix a refused setting names. (Where each
// kind of run keeps its files: tests/win32/install_for_all_users.sh.)
#include "platform/win32/win32_machine.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_text.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

TEST(Win32Machine, TheTasksXmlIsSavedAsUtf16WithItsMark)
{
    test::TempFolder folder;
    const std::string program = "C:\\Program Files\\Veltrane & Co\\veltrane.exe";
    SystemError error;
    ASSERT_TRUE(WriteTaskXmlFile(folder.Utf8File(L"task.xml"), program, error)) << error.description;
    const std::string bytes = test::ReadBytes(folder.File(L"task.xml"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_EQ(Narrow(text), win32::TaskXml(program));

    // Task Scheduler takes no longer path; nothing is written then.
    const std::string tooLong = "C:\\" + std::string(257, 'v') + ".exe";
    EXPECT_FALSE(WriteTaskXmlFile(folder.Utf8File(L"long.xml"), tooLong, error));
    EXPECT_EQ(error.number, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(::GetFileAttributesW(folder.File(L"long.xml").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32Machine, TheFoldersAccessMeansWhatItSays)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(Widen(win32::kMachineFolderSddl).c_str(),
                                                                       SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));

    BOOL present = FALSE;
    PACL access = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &access, &defaulted);
    ASSERT_TRUE(present && access != nullptr);
    const std::vector<std::pair<WELL_KNOWN_SID_TYPE, DWORD>> expected{
        {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
        {WinLocalSystemSid, FILE_ALL_ACCESS},
        {WinLocalServiceSid, FILE_ALL_ACCESS},
        {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    ASSERT_EQ(access->AceCount, expected.size());
    for (WORD i = 0; i < access->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(access, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << i;
        EXPECT_TRUE(::IsWellKnownSid(&ace->SidStart, expected[i].first)) << i;
        EXPECT_EQ(ace->Mask, expected[i].second) << i;
    }
    ::LocalFree(descriptor);
}

TEST(Win32Machine, AMachineFolderIsMadeOrPutRight)
{
    test::TempFolder parent;
    SystemError error;
    const std::wstring fresh = parent.File(L"Veltrane");
    ASSERT_TRUE(PrepareMachineFolder(Narrow(fresh), error)) << error.description;

    const std::wstring there = parent.File(L"There");
    ASSERT_TRUE(::CreateDirectoryW(there.c_str(), nullptr));
    test::WriteBytes(there + L"\\Veltrane.INI", "[Main]\r\n");
    // A file of its own that lets Users write it.
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BU)", SDDL_REVISION_1, &open, nullptr));
    ::SetFileSecurityW((there + L"\\Veltrane.INI").c_str(), DACL_SECURITY_INFORMATION, open);
    ::LocalFree(open);
    ASSERT_TRUE(PrepareMachineFolder(Narrow(there), error)) << error.description;
    EXPECT_EQ(test::ReadBytes(there + L"\\Veltrane.INI"), "[Main]\r\n");

    // A file where the folder should be is refused.
    test::WriteBytes(parent.File(L"NotAFolder"), "x");
    EXPECT_FALSE(PrepareMachineFolder(parent.Utf8File(L"NotAFolder"), error));

    // (Wine keeps no access lists on files, so what the folders got is not
    // compared here: the list they are given is the one checked above.)
}

TEST(Win32Machine, ARefusalForWantOfTheRightCarriesTheFix)
{
    ClockSetResult answer = ClockSetFailure(ERROR_PRIVILEGE_NOT_HELD);
    Win32Clock clock([&answer](const UtcInstant&) { return answer; }, "install it for all users");
    EXPECT_EQ(clock.SetTime(clock.Read().utc).remedy, "install it for all users");
    answer = ClockSetFailure(ERROR_ACCESS_DENIED);
    EXPECT_EQ(clock.SetTime(clock.Read().utc).remedy, "");
}

}  // namespace
}  // namespace vel::platform
