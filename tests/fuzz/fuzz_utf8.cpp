// libFuzzer target: the strict decoder against an independent one, and the conversion's cursors
// with a target of any size.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "strict_utf8_reference.h"
#include "update/utf8.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void CheckWholeText(const uint8_t* data, size_t size)
{
    const std::optional<std::u16string> expected = reference::ExpectedWideText(data, size);
    std::optional<std::wstring> actual;
    try {
        actual = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
    }
    Require(expected.has_value() == actual.has_value());
    if (!expected)
        return;
    Require(expected->size() == actual->size());
    for (size_t i = 0; i < expected->size(); ++i)
        Require(static_cast<uint32_t>((*expected)[i]) == static_cast<uint32_t>((*actual)[i]));
}

// The first byte picks how many units the target has room for.
void CheckBoundedConversion(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const size_t room = data[0] % 16;
    ++data;
    --size;
    constexpr uint16_t kGuard = 0xAAAA;
    std::vector<uint16_t> target(room + 1, kGuard);
    const uint8_t* source = data;
    uint16_t* cursor = target.data();
    const ConversionResult result =
        ConvertUtf8ToUtf16(source, data + size, cursor, target.data() + room);

    Require(source >= data && source <= data + size);
    Require(cursor >= target.data() && cursor <= target.data() + room);
    Require(target[room] == kGuard);
    const size_t written = static_cast<size_t>(cursor - target.data());

    const std::optional<std::u16string> all = reference::DecodeStrict(data, size);
    // What was converted is itself well-formed and gives exactly the units written.
    const std::optional<std::u16string> converted =
        reference::DecodeStrict(data, static_cast<size_t>(source - data));
    Require(converted.has_value() && converted->size() == written);
    for (size_t i = 0; i < written; ++i)
        Require(static_cast<uint16_t>((*converted)[i]) == target[i]);

    switch (result) {
    case ConversionOK:
        Require(all.has_value() && source == data + size);
        break;
    case TargetExhausted:
        // The next sequence is whole and well-formed; only the room is missing.
        Require(source < data + size);
        Require(room - written < 2);
        break;
    case SourceExhausted:
    case SourceIllegal:
        Require(!all.has_value() && source < data + size);
        break;
    default:
        Require(false);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckWholeText(data, size);
    CheckBoundedConversion(data, size);
    return 0;
}
