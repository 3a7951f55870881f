// Damaged copies of the format samples, cut short or with bytes overwritten, are read or refused
// with a reason that names the file; none crashes, hangs or aborts (under the sanitizers too).
#include <gtest/gtest.h>

#include <string>

#include "format_samples.h"
#include "test_support.h"
#include "workbook/io.h"

namespace qm {
namespace {

TEST(FormatsDamaged, CutOrOverwrittenSamplesAreReadOrRefusedNamingTheFile) {
  int tried = 0;
  for (const char* kind : {"xml", "ods", "fods", "xlsb"}) {
    for (const testing::FormatSample& f : testing::FormatSamples(kind)) {
      const std::string bytes = testing::Slurp(f.path);
      if (bytes.size() > 60000) continue;  // the small ones cover the same code
      const std::string name = "坏的" + f.rel;
      for (int k = 1; k <= 24; ++k) {
        std::string damaged = bytes;
        const size_t at = bytes.size() * static_cast<size_t>(k) / 25;
        if (k % 2)
          damaged.resize(at);
        else
          for (size_t i = at; i < std::min(bytes.size(), at + 16); ++i) damaged[i] ^= 0x5A;
        auto r = ReadWorkbookBytes(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(),
                                   name);
        ++tried;
        if (r.ok()) continue;
        EXPECT_EQ(r.error().detail.rfind(name, 0), 0u)
            << f.rel << " " << k << ": " << r.error().detail;
        EXPECT_FALSE(ErrorReason(r.error(), name).empty());
      }
    }
  }
  if (tried == 0) {
    SKIP_OR_FAIL("no samples at " QM_CORPUS_DIR "/formats");
  }
}

}  // namespace
}  // namespace qm
