#include "launcher/process_objects.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/log_file.h"
#include "platform/sim/sim.h"
#include "strings/string_block.h"

namespace orvane {
namespace {

void ShowFreedText(const void* block) {
    const auto* text = reinterpret_cast<const char16_t*>(static_cast<const unsigned char*>(block) + block::CHARACTERS);
    std::string shown;
    for (; *text != 0; ++text) shown += static_cast<char>(*text);
    std::fprintf(stderr, "[%s]\n", shown.c_str());
}

// The order is only seen as the objects go: after main returns, the reverse of the order they
// were built in. The log's path is given a heap block so that its going shows too.
TEST(ProcessObjectsTest, DestroyedAfterMainInTheReverseOrderOfTheirConstruction) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            sim::Reset();
            LogPath().Assign((u"log path" + std::u16string(300, u'.')).c_str());
            sim::WatchRuntimeFrees(ShowFreedText);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^\\[log path\\.+\\]\n\\[patch\\.rkv\\.old\\]\n\\[patch\\.rkv\\]\n\\[installer\\\\kestrun\\.exe\\]\n$");
}

}  // namespace
}  // namespace orvane
