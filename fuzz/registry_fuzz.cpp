// registry_fuzz: any type, byte count and bytes stored as "InstallLocation" in the simulated
// registry, read back through ReadInstallLocation, against the validation rules for a string
// value written out here on their own: the expected text, or empty.
#include <vector>

#include "fuzz_support.h"
#include "launcher/install_lookup.h"
#include "platform/sim/sim.h"
#include "testkit/typical_machine.h"

namespace {

using fuzz::Check;
using orvane::testing::UNINSTALL_KEY;

constexpr const char16_t* VALUE = u"InstallLocation";
constexpr const char16_t* OTHER_VIEW_TEXT = u"C:\\the other view\\";
constexpr std::size_t ROOM_BYTES = 2048;  // what the lookup offers the registry
constexpr int RUNS_PER_MACHINE = 4096;    // the simulation's records grow with every call

/// What the lookup must return for a stored value: a string value (REG_SZ or REG_EXPAND_SZ)
/// that fits in 2048 bytes, of an even, non-zero byte count whose last unit is 0, gives its
/// units up to the first 0; everything else gives the empty text.
std::u16string Expected(platform::DWORD type, const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() > ROOM_BYTES) return u"";
    if (type != 1 && type != 2) return u"";
    if (bytes.empty() || bytes.size() % 2 != 0) return u"";
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    if (units.back() != 0) return u"";
    return fuzz::UpToTerminator(units);
}

std::vector<std::uint8_t> ConsumeValueBytes(FuzzedDataProvider& in) {
    std::vector<std::uint8_t> bytes;
    if (in.ConsumeBool()) {
        // Raw bytes, any count.
        const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, ROOM_BYTES + 8);
        bytes = in.ConsumeBytes<std::uint8_t>(count);
        return bytes;
    }
    // A text, mostly near the 1023-character limit or short, with or without its terminator,
    // sometimes with one byte more.
    static constexpr std::size_t LENGTHS[] = {0, 1, 3, 1022, 1023, 1024, 1025};
    const std::size_t length = in.ConsumeBool() ? LENGTHS[in.ConsumeIntegralInRange<std::size_t>(0, 6)]
                                                : in.ConsumeIntegralInRange<std::size_t>(0, 40);
    const char16_t fill = fuzz::ConsumeUnit(in);
    const std::u16string drawn = fuzz::ConsumeText(in, length);
    std::u16string text = drawn + std::u16string(length - std::min(length, drawn.size()), fill == 0 ? u'x' : fill);
    if (in.ConsumeIntegralInRange<int>(0, 3) != 0) text += u'\0';
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) bytes.push_back(in.ConsumeIntegral<std::uint8_t>());
    return bytes;
}

platform::DWORD ConsumeType(FuzzedDataProvider& in) {
    static constexpr platform::DWORD TYPES[] = {1, 2, 1, 2, 0, 3, 4, 7};
    const int pick = in.ConsumeIntegralInRange<int>(0, 8);
    return pick < 8 ? TYPES[pick] : in.ConsumeIntegral<platform::DWORD>();
}

std::vector<std::uint8_t> Stored(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

int runs = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (runs++ % RUNS_PER_MACHINE == 0) sim::Reset();
    FuzzedDataProvider in(data, size);
    const bool machine64 = in.ConsumeBool();
    const bool storeIn64 = in.ConsumeBool();
    const bool ask64 = in.ConsumeBool();
    const platform::DWORD type = ConsumeType(in);
    const std::vector<std::uint8_t> bytes = ConsumeValueBytes(in);

    sim::SetMachine64Bit(machine64);
    const sim::View fuzzed = storeIn64 ? sim::View::Bit64 : sim::View::Bit32;
    const sim::View other = storeIn64 ? sim::View::Bit32 : sim::View::Bit64;
    sim::SetValue(other, UNINSTALL_KEY, VALUE, 1, Stored(OTHER_VIEW_TEXT));
    sim::SetValue(fuzzed, UNINSTALL_KEY, VALUE, type, bytes);
    // A 64-bit machine reads its 64-bit view only when asked; a 32-bit machine has one view.
    const sim::View read = machine64 && ask64 ? sim::View::Bit64 : sim::View::Bit32;
    const std::u16string expected = read == fuzzed ? Expected(type, bytes) : std::u16string(OTHER_VIEW_TEXT);

    const sim::HeapCounts before = sim::Heap();
    {
        const orvane::GuardedString result = orvane::ReadInstallLocation(ask64);
        Check(std::u16string(result.Text(), result.Length()) == expected, "the install location");
        Check(result.Text()[result.Length()] == 0, "terminated");
        Check(result.Length() <= result.Capacity(), "length within the capacity");
        result.CheckIntegrity();
    }
    Check(sim::OpenKeys() == 0, "the key is closed");
    const sim::HeapCounts after = sim::Heap();
    Check(after.runtimeLive == before.runtimeLive && after.generalLive == before.generalLive, "every block given back");
    return 0;
}
