// A document whose pixels stay outside the stand-in host (an editor's layer,
// moved by rectangles) renders as the same document held by the host, and
// ovra-host apply --area filters only its rectangle.
#include <algorithm>
#include <cstring>

#include "tests/e2e/e2e_fixture.h"

namespace {

using standin::Document;

// Pixels in memory behind the store interface, counting what is moved.
class MemoryStore final : public standin::PixelStore {
 public:
  explicit MemoryStore(const Document& doc) : source_(doc), result_(doc) {}
  void ReadSource(const VRect& r, uint16_t* samples) override {
    Copy(source_, r, samples);
    largestRead = std::max<int64_t>(largestRead, Area(r));
  }
  void ReadResult(const VRect& r, uint16_t* samples) override { Copy(result_, r, samples); }
  void WriteResult(const VRect& r, const uint16_t* samples) override {
    ++writes;
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::memcpy(&result_.At(r.left, y, 0),
                  samples + static_cast<std::size_t>(y - r.top) * (r.right - r.left) * 3,
                  static_cast<std::size_t>(r.right - r.left) * 3 * sizeof(uint16_t));
  }
  const Document& Result() const { return result_; }
  int64_t largestRead = 0;
  int writes = 0;

 private:
  static int64_t Area(const VRect& r) { return static_cast<int64_t>(r.bottom - r.top) * (r.right - r.left); }
  static void Copy(const Document& d, const VRect& r, uint16_t* samples) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::memcpy(samples + static_cast<std::size_t>(y - r.top) * (r.right - r.left) * 3,
                  &d.samples[(static_cast<std::size_t>(y) * d.width + r.left) * 3],
                  static_cast<std::size_t>(r.right - r.left) * 3 * sizeof(uint16_t));
  }
  Document source_, result_;
};

std::vector<uint8_t> SettingsOf(const e2e::Look& look) {
  std::vector<uint8_t> block = e2e::DefaultSettings(look.entry);
  standin::SettingsView view;
  std::string error;
  EXPECT_TRUE(standin::ParseSettings(block, view, error)) << error;
  for (const auto& [key, value] : look.set)
    for (const auto& r : view.records)
      if (r.key == key) {
        EXPECT_TRUE(standin::SetValue(block, r, value, error)) << error;
      }
  return block;
}

// One run over the host's own document, or over a store of it.
Document Render(const e2e::Look& look, const Document& doc, const standin::HostOptions& options,
                const VRect& area, MemoryStore* store) {
  standin::Host host(options);
  if (store != nullptr)
    host.SetPixelStore(store, doc.width, doc.height, doc.depth);
  else
    host.SetDocument(doc);
  host.SetFilterRect(area);
  standin::RunOptions run;
  run.scriptedSettings = SettingsOf(look);
  const standin::RunResult r = standin::RunFilter(host, e2e::RealModule(), look.entry, run);
  EXPECT_EQ(r.result, 0) << r.message;
  if (store != nullptr) {
    EXPECT_TRUE(host.Doc().samples.empty()) << "the host copied the stored document";
    return store->Result();
  }
  return host.Doc();
}

TEST(PixelStore, RendersAsTheDocumentItStandsFor) {
  struct Case {
    const char* what;
    e2e::Look look;
    int32_t depth;
    int32_t tileRows;
    bool interleaved;
    bool selection;
  };
  const Case cases[] = {
      {"blur in bands", {"FastBlur", {{"blurX", "12"}, {"blurY", "6"}, {"gang", "0"}}}, 8, 16, false, false},
      {"blur, advance-state path", {"FastBlur", {{"blurX", "12"}}}, 16, 16, true, false},
      {"blur in a rectangle", {"FastBlur", {{"blurX", "12"}}}, 16, 256, false, true},
      {"grain at 16 bits", {"Grain", {{"grainAmountRed", "40"}}}, 16, 16, false, true},
      {"soft effects, no tile size", {"SoftEffects", {{"opacity", "60"}}}, 8, 0, false, false},
      {"gel, advance-state in a rectangle", {"RoscoCinegel", {{"opacity", "80"}}}, 8, 16, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Document doc = e2e::Photo("coffee.png", 90, 64, c.depth);
    standin::HostOptions options;
    options.tileRows = c.tileRows;
    options.interleaved = c.interleaved;
    const VRect area = c.selection ? VRect{9, 13, 50, 71} : VRect{0, 0, doc.height, doc.width};
    const Document want = Render(c.look, doc, options, area, nullptr);
    ASSERT_NE(e2e::FirstDifference(want, doc), "equal") << "the case shows nothing";
    MemoryStore store(doc);
    const Document got = Render(c.look, doc, options, area, &store);
    EXPECT_EQ(e2e::FirstDifference(want, got), "equal");
    EXPECT_GT(store.writes, 0);
    // Band by band: no read of the whole picture when bands are asked for.
    if (c.tileRows == 16) {
      EXPECT_LT(store.largestRead, static_cast<int64_t>(doc.width) * doc.height);
    }
  }
}

TEST(ApplyArea, FiltersOnlyTheRectangle) {
  const std::string dir = ::testing::TempDir();
  const std::string in = dir + "/area-in.png", whole = dir + "/area-whole.png", part = dir + "/area-part.png";
  const Document doc = e2e::Photo("coffee.png", 80, 60, 8);
  std::string error;
  ASSERT_TRUE(standin::WriteImage(in, doc, error)) << error;
  ASSERT_EQ(e2e::RunHost("apply BleachBypass " + in + " " + whole + " --set contrast=30 --quiet").status, 0);
  const e2e::HostOutput out =
      e2e::RunHost("apply BleachBypass " + in + " " + part + " --set contrast=30 --area 10,5,30,20 --quiet");
  ASSERT_EQ(out.status, 0) << out.text;
  Document a, b;
  ASSERT_TRUE(standin::ReadImage(whole, a, error)) << error;
  ASSERT_TRUE(standin::ReadImage(part, b, error)) << error;
  int inside = 0, outside = 0;
  for (int32_t y = 0; y < doc.height; ++y)
    for (int32_t x = 0; x < doc.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const bool in = x >= 10 && x < 40 && y >= 5 && y < 25;
        // A point effect: inside as over the whole picture, outside untouched.
        if (in) inside += b.At(x, y, c) != a.At(x, y, c);
        if (!in) outside += b.At(x, y, c) != doc.At(x, y, c);
      }
  EXPECT_EQ(inside, 0);
  EXPECT_EQ(outside, 0);
  EXPECT_NE(e2e::FirstDifference(b, doc), "equal");

  const std::pair<const char*, const char*> refused[] = {
      {"--area 10,5,30", "--area takes LEFT,TOP,WIDTH,HEIGHT"},
      {"--area 10,5,0,20", "--area takes LEFT,TOP,WIDTH,HEIGHT"},
      {"--area 60,5,30,20", "--area reaches outside the 80x60 image"},
  };
  for (const auto& [option, message] : refused) {
    const e2e::HostOutput r =
        e2e::RunHost("apply BleachBypass " + in + " " + part + " " + option + " --quiet");
    EXPECT_NE(r.status, 0) << option;
    EXPECT_NE(r.text.find(message), std::string::npos) << option << ": " << r.text;
  }
}

}  // namespace
