#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "CommandSet.h"
#include "SectorMap.h"

using namespace updater;

namespace {

struct MapCase {
  uint32_t processor_id;
  std::string suffix;
  size_t sectors;
  int32_t first;
  int32_t last;
  bool known;
  uint32_t writable_end;
  std::vector<TSector> samples;  // {address, size} of sectors 0, 1, ... spot-checked by index
  std::vector<size_t> sample_index;
};

void PrintTo(const MapCase& c, std::ostream* os) {
  *os << std::hex << c.processor_id << "_" << c.suffix;
}

class SectorMapSelection : public ::testing::TestWithParam<MapCase> {};

TEST_P(SectorMapSelection, PicksTheMapOfTheIdentifierOrTheSuffix) {
  const MapCase& c = GetParam();
  const TSectorMapChoice choice = ChooseSectorMap(c.processor_id, c.suffix);
  ASSERT_NE(choice.Map, nullptr);
  const TSectorMap& map = *choice.Map;
  EXPECT_EQ(choice.KnownProcessor, c.known);
  EXPECT_EQ(IsListedProcessor(c.processor_id), c.known);
  EXPECT_EQ(map.Sectors.size(), c.sectors);
  EXPECT_EQ(map.FirstSector, c.first);
  EXPECT_EQ(map.LastSector, c.last);
  EXPECT_EQ(map.WritableEnd(), c.writable_end);
  ASSERT_EQ(c.samples.size(), c.sample_index.size());
  for (size_t i = 0; i < c.samples.size(); ++i) {
    const TSector& got = map.Sectors[c.sample_index[i]];
    EXPECT_EQ(got.Address, c.samples[i].Address) << "sector " << c.sample_index[i];
    EXPECT_EQ(got.Size, c.samples[i].Size) << "sector " << c.sample_index[i];
  }
}

const TSector k4(uint32_t a) {
  return {a, 4096};
}
const TSector k32(uint32_t a) {
  return {a, 32768};
}

// Sectors sampled at each change of size and at both ends of the writable range.
std::vector<MapCase> MapCases() {
  const std::vector<size_t> small_large = {0, 4, 10, 15, 16, 17};
  std::vector<MapCase> cases = {
      {0x10040204, "", 64, 4, 63, true, 0x40000, {k4(0), k4(0x4000), k4(0x3F000)}, {0, 4, 63}},
      {0x10040204, "PP", 64, 4, 63, true, 0x40000, {}, {}},
      {0x400FE000,
       "TR",
       256,
       0,
       255,
       true,
       0x24400,
       {{0x4400, 512}, {0x4600, 512}, {0x24200, 512}},
       {0, 1, 255}},
      // Unlisted identifiers: "TR" and "PP" (exactly, case included) lack sector 27.
      {0x00000000,
       "PP",
       27,
       4,
       26,
       false,
       0x7D000,
       {k4(0x4000), k4(0x7000), k32(0x8000), k32(0x70000), k4(0x78000), k4(0x7C000)},
       {4, 7, 8, 21, 22, 26}},
      {0x12345678, "TR", 27, 4, 26, false, 0x7D000, {}, {}},
      {0x00000000, "", 28, 4, 27, false, 0x7E000, {k4(0x7C000), k4(0x7D000)}, {26, 27}},
      {0x00000000, "pp", 28, 4, 27, false, 0x7E000, {}, {}},
      {0x00000000, "TRX", 28, 4, 27, false, 0x7E000, {}, {}},
      {0x10040205, "TR", 27, 4, 26, false, 0x7D000, {}, {}},
  };
  for (uint32_t id : {0x25011723u, 0x26013733u, 0x26013F33u}) {
    cases.push_back({id,
                     "TR",
                     22,
                     10,
                     21,
                     true,
                     0x40000,
                     {k4(0), k4(0x4000), k4(0xA000), k4(0xF000), k32(0x10000), k32(0x18000)},
                     small_large});
  }
  for (uint32_t id :
       {0x25013F37u, 0x25113737u, 0x26012837u, 0x26013F37u, 0x26113F37u, 0x27193F47u}) {
    cases.push_back({id,
                     "",
                     30,
                     10,
                     29,
                     true,
                     0x80000,
                     {k4(0), k4(0x4000), k4(0xA000), k4(0xF000), k32(0x10000), k32(0x18000)},
                     small_large});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllMaps, SectorMapSelection, ::testing::ValuesIn(MapCases()));

TEST(SectorMaps, NoMapOutgrowsTheFlashImageBound) {
  for (const MapCase& c : MapCases()) {
    EXPECT_LE(ChooseSectorMap(c.processor_id, c.suffix).Map->WritableEnd(), kMaxFlashImageSize);
  }
}

TFirmwareVersion Version(const char* family, uint16_t number) {
  TFirmwareVersion version;
  version.Family = family;
  version.Number = number;
  return version;
}

struct CommandCase {
  uint32_t processor_id;
  uint16_t boot;
  const char* image_family;
  uint16_t image;
  bool newer;
};

TEST(CommandSet, NewerCommandsForListedProcessorsAndRecentVtqlBootLoaders) {
  const CommandCase cases[] = {
      {0x10040204, 100, "ROZI", 116, true},  {0x25011723, 100, "ROZI", 116, true},
      {0x26013733, 100, "ROZI", 116, true},  {0x26013F33, 100, "ROZI", 116, true},
      {0x25013F37, 100, "ROZI", 116, true},  {0x25113737, 100, "ROZI", 116, true},
      {0x26012837, 100, "ROZI", 116, true},  {0x26013F37, 100, "ROZI", 116, true},
      {0x26113F37, 100, "ROZI", 116, true},  {0x27193F47, 100, "ROZI", 116, true},
      {0x400FE000, 100, "ROZI", 116, true},  {0x00000000, 104, "VTQL", 900, true},
      {0x00000000, 200, "VTQL", 100, true},  {0x00000000, 103, "VTQL", 900, false},
      {0x00000000, 104, "vtql", 900, false}, {0x00000000, 104, "ZOZI", 900, false},
      {0x12345678, 300, "ROZI", 116, false},
  };
  for (const CommandCase& c : cases) {
    EXPECT_EQ(UsesNewerCommands(c.processor_id, Version("BOOT", c.boot),
                                Version(c.image_family, c.image)),
              c.newer)
        << std::hex << c.processor_id << " " << std::dec << c.boot << " " << c.image_family << " "
        << c.image;
  }
}

}  // namespace
