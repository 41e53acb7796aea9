// The install for all users on the system itself: the task's XML as a file,
// the machine folder's access, where each kind of run keeps its files, and
// the fix a refused setting names.
#include "platform/win32/win32_machine.h"

#include <windows.h>
#include <aclapi.h>
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

// The access of a file or folder in SDDL: owner and DACL.
std::string SddlOf(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    wchar_t* text = nullptr;
    std::string sddl;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        sddl = Narrow(text);
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return sddl;
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

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

// Whether this system keeps a file's access list as it was set (Wine maps
// it to Unix modes and back).
bool KeepsAccessLists(const test::TempFolder& folder)
{
    const std::wstring probe = folder.File(L"probe");
    ::CreateDirectoryW(probe.c_str(), nullptr);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;LS)", SDDL_REVISION_1, &descriptor, nullptr);
    const bool set = ::SetFileSecurityW(probe.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    const bool kept = set && Has(SddlOf(probe), "D:P(A;;FA;;;LS)");
    ::RemoveDirectoryW(probe.c_str());
    return kept;
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

    if (!KeepsAccessLists(parent)) {
        RecordProperty("access", "this system keeps no access lists on files: not compared");
        return;
    }
    for (const std::wstring& folder : {fresh, there}) {
        const std::string sddl = SddlOf(folder);
        EXPECT_TRUE(Has(sddl, "O:BA") && Has(sddl, "D:P")) << sddl;
        for (const char* ace : {";FA;;;BA)", ";FA;;;SY)", ";FA;;;LS)", ";;;BU)"})
            EXPECT_TRUE(Has(sddl, ace)) << ace << " in " << sddl;
        EXPECT_FALSE(Has(sddl, "FA;;;BU)")) << sddl;
    }
    const std::string file = SddlOf(there + L"\\Veltrane.INI");
    EXPECT_FALSE(Has(file, "FA;;;BU)")) << file;
    EXPECT_TRUE(Has(file, "ID;FA;;;LS)")) << file;  // handed down from the folder
}

TEST(Win32Machine, EachKindOfRunFromItsArgumentsAndTheMark)
{
    test::TempFolder folder;
    EXPECT_EQ(RunKindOf({}, folder.Utf8()), win32::RunKind::OwnCopy);
    EXPECT_EQ(RunKindOf({"--machine"}, folder.Utf8()), win32::RunKind::Machine);
    test::WriteBytes(folder.File(L"installed-for-all-users.txt"), "");
    EXPECT_EQ(RunKindOf({"config"}, folder.Utf8()), win32::RunKind::SharedCopy);
    EXPECT_EQ(RunKindOf({"--machine", "config"}, folder.Utf8()), win32::RunKind::Machine);

    const std::string own = ProgramFolderFor(win32::RunKind::SharedCopy, folder.Utf8());
    EXPECT_EQ(own, KnownFolders(folder.Utf8()).localAppData + "\\Veltrane");
    const DWORD made = ::GetFileAttributesW(Widen(own).c_str());
    EXPECT_TRUE(made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_DIRECTORY) != 0) << own;
    EXPECT_EQ(ProgramFolderFor(win32::RunKind::OwnCopy, folder.Utf8()), folder.Utf8());
    EXPECT_EQ(MachineFolder(), KnownFolders("").programData + "\\Veltrane");
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
