// The elevated host's COM security descriptor, read back. Wine accepts any
// descriptor in CoInitializeSecurity without enforcing it, so the test checks
// what is passed, not who gets in.
#include "process_security.h"
#include "system/win32/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<BYTE> tokenUser()
{
    System::Win32::UniqueHandle token;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    EXPECT_TRUE(::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size));
    return user;
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return ::IsWellKnownSid(sid, type) != FALSE;
}

TEST(ElevatedSecurityDescriptor, AdmitsTheUserTheSystemAndAdministratorsOnly)
{
    ElevatedSecurityDescriptor descriptor;
    ASSERT_EQ(descriptor.initialize(), S_OK);
    ASSERT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));
    const std::vector<BYTE> user = tokenUser();
    const PSID userSid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;

    PSID owner = nullptr, group = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
    EXPECT_TRUE(::EqualSid(owner, userSid));
    EXPECT_FALSE(defaulted);
    ASSERT_TRUE(::GetSecurityDescriptorGroup(descriptor.get(), &group, &defaulted));
    EXPECT_NE(group, nullptr);

    BOOL present = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &acl, &defaulted));
    // A missing access list would admit every caller on the machine.
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl->AceCount, 3u);
    std::vector<PSID> admitted;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(acl, i, &ace));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Mask, ElevatedSecurityDescriptor::kComCallRights);
        admitted.push_back(const_cast<DWORD*>(&allowed->SidStart));
    }
    EXPECT_TRUE(::EqualSid(admitted[0], userSid));
    EXPECT_TRUE(isWellKnown(admitted[1], WinLocalSystemSid));
    EXPECT_TRUE(isWellKnown(admitted[2], WinBuiltinAdministratorsSid));
}

} // namespace
