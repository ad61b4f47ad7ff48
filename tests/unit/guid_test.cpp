#include "guid/guid.h"

#include <gtest/gtest.h>

namespace {

struct PackCase {
    const wchar_t* input;
    const wchar_t* packed;
};

class PackGuidTest : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackGuidTest, Packs) { EXPECT_EQ(PackGuid(GetParam().input), GetParam().packed); }

INSTANTIATE_TEST_SUITE_P(
    Cases, PackGuidTest,
    ::testing::Values(
        PackCase{L"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}", L"09D7A2C4B1E653F4A9807B3D5EC1264F"},
        PackCase{L"{4c2a7d90-6e1b-4f35-9a08-b7d3e51c62f4}", L"09d7a2c4b1e653f4a9807b3d5ec1264f"},
        PackCase{L"4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4", L"09D7A2C4B1E653F4A9807B3D5EC1264F"},
        PackCase{L"{{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}}", L"09D7A2C4B1E653F4A9807B3D5EC1264F"},
        PackCase{L"}4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4{", L"09D7A2C4B1E653F4A9807B3D5EC1264F"},
        // An inner brace moves with field 1's reversal: 33 characters.
        PackCase{L"{4C2A{7D90-6E1B-4F35-9A08-B7D3E51C62F4}", L"09D7{A2C4B1E653F4A9807B3D5EC1264F"},
        // A leading space stops the trim and shields the brace behind it: 34 characters.
        PackCase{L" {4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}", L"09D7A2C4{ B1E653F4A9807B3D5EC1264F"},
        PackCase{L"{abc-de-f-gh-ijkl}", L"cbaedfhgjilk"},
        PackCase{L"{4C2A7D90--4F35-9A08-B7D3E51C62F4}", L"09D7A2C453F4A9807B3D5EC1264F"},
        PackCase{L"{4C2A7D90-6E1B-4F35-9A08-}", L"09D7A2C4B1E653F4A980"},
        PackCase{L"{4C2A7D90-6E1B-4F35-9A0-B7D3E51C62F4}", L""},
        PackCase{L"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F}", L""},
        PackCase{L"{4C2A7D90-6E1B-4F35-9A08B7D3E51C62F4}", L""},
        PackCase{L"{4C2A7D90-6E1B-4F35-9A08-B7D3-E51C62F4}", L""},
        PackCase{L"", L""},
        PackCase{L"{}", L""},
        PackCase{L"{-}", L""}));

struct UnpackCase {
    const wchar_t* input;
    const wchar_t* braced;
};

class UnpackGuidTest : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackGuidTest, Unpacks) { EXPECT_EQ(UnpackGuid(GetParam().input), GetParam().braced); }

INSTANTIATE_TEST_SUITE_P(
    Cases, UnpackGuidTest,
    ::testing::Values(
        UnpackCase{L"09D7A2C4B1E653F4A9807B3D5EC1264F", L"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}"},
        UnpackCase{L"09d7a2c4b1e653f4a9807b3d5ec1264f", L"{4c2a7d90-6e1b-4f35-9a08-b7d3e51c62f4}"},
        UnpackCase{L"09D7A2C4B1E653F4A9807B3D5EC1264", L""},
        UnpackCase{L"09D7A2C4B1E653F4A9807B3D5EC1264F0", L""},
        UnpackCase{L"", L""},
        UnpackCase{L"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"},
        // A '-' at position 30 is swapped to the very end and trimmed: 37 characters.
        UnpackCase{L"09D7A2C4B1E653F4A9807B3D5EC126-F", L"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F}"},
        // Field 5 all dashes vanishes with the dash before it: 25 characters.
        UnpackCase{L"09D7A2C4B1E653F4A980------------", L"{4C2A7D90-6E1B-4F35-9A08}"}));

TEST(GuidRoundTrip, UnpackUndoesPackAndBack) {
    const std::wstring braced = L"{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}";
    EXPECT_EQ(UnpackGuid(PackGuid(braced)), braced);
    const std::wstring packed = L"0123456789abcdefFEDCBA9876543210";
    EXPECT_EQ(PackGuid(UnpackGuid(packed)), packed);
}

}  // namespace
