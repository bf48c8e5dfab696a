// The simulation's security: descriptors on new folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimSecurityTest = SimFixture;

TEST_F(SimSecurityTest, FoldersCreatedWithADescriptorTakeItsOwnerAndItsDacl) {
    platform::ScopedLocal descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                     SDDL_REVISION_1, descriptor.Receive()));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    sim::SetProcessAccount(sim::Account::User);  // a standard user may not name Administrators
    EXPECT_FALSE(CreateDirectoryW(u"C:\\locked", &attributes));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_OWNER);
    sim::SetProcessAccount(sim::Account::User, true);  // an elevated administrator may
    EXPECT_TRUE(CreateDirectoryW(u"C:\\locked", &attributes));
    const sim::Security security = sim::SecurityOf(u"C:\\locked");
    EXPECT_EQ(security.owner, sim::Account::Administrators);
    EXPECT_TRUE(security.protectedDacl);
    EXPECT_EQ(security.standardUser, 0u);
    sim::SetProcessAccount(sim::Account::User, false);
    EXPECT_EQ(CreateFileW(u"C:\\locked\\f.txt", W, SR, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryW(u"C:\\locked\\sub", nullptr));
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"O:BAG:SYD:(A;;FA;;;SY)", SDDL_REVISION_1,
                                                                      descriptor.Receive()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    descriptor.Close();
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
}

}  // namespace
