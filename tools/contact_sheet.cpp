// ovra-contact-sheet: one photograph through every item of an effect's list
// of presets (a catalogue's filters, a film stock, a light source), or
// through every picture of an image-file parameter's data folder (Light!'s
// patterns), rendered by the real module through the stand-in host and laid
// out as one labelled grid, so that a whole catalogue can be looked at at
// once.
//
//   ovra-contact-sheet <filter> <input image> <output.png> [options]
//     --list KEY        the list or image-file parameter to sweep (default
//                       "presets")
//     --set KEY=VALUE   settings for every cell (as ovra-host apply; repeatable)
//     --depth 8|16      the depth the module renders at (default 8)
//     --width N         thumbnail width in pixels (default 160)
//     --columns N       cells per row (default 6)
//     --module FILE     the module (default: ovra.so beside this program)
//
// The first cell is the photograph itself, then one cell per list item after
// the first ("Custom" and the like), each labelled with the item's name.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "framework/registry.h"
#include "framework/settings_block.h"
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/module_loader.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"
#include "plugin/entry_table.h"

namespace {

using standin::Document;

constexpr const char* kUsage =
    "usage: ovra-contact-sheet <filter> <input image> <output.png> [--list KEY] [--set KEY=VALUE]...\n"
    "                          [--depth 8|16] [--width N] [--columns N] [--module FILE]\n";

// ------------------------------------------------------------ lettering

// A 5 x 7 bitmap font for the printable ASCII characters, one byte per row,
// bit 4 the leftmost column.
constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kAdvance = 6, kLineHeight = 10;
constexpr uint8_t kFont[95][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // ' '
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04},  // '!'
    {0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00},  // '"'
    {0x0A, 0x1F, 0x0A, 0x0A, 0x1F, 0x0A, 0x00},  // '#'
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04},  // '$'
    {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},  // '%'
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D},  // '&'
    {0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},  // '\''
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02},  // '('
    {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},  // ')'
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00},  // '*'
    {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},  // '+'
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08},  // ','
    {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},  // '-'
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},  // '.'
    {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},  // '/'
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // '0'
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // '1'
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // '2'
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // '3'
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // '4'
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // '5'
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // '6'
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // '7'
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // '8'
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // '9'
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // ':'
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},  // ';'
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02},  // '<'
    {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},  // '='
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08},  // '>'
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},  // '?'
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E},  // '@'
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // 'A'
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},  // 'B'
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // 'C'
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},  // 'D'
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},  // 'E'
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},  // 'F'
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},  // 'G'
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // 'H'
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 'I'
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},  // 'J'
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // 'K'
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},  // 'L'
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},  // 'M'
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},  // 'N'
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // 'O'
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},  // 'P'
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},  // 'Q'
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // 'R'
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},  // 'S'
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // 'T'
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // 'U'
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},  // 'V'
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},  // 'W'
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},  // 'X'
    {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04},  // 'Y'
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},  // 'Z'
    {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},  // '['
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00},  // '\\'
    {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},  // ']'
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00},  // '^'
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},  // '_'
    {0x08, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},  // '`'
    {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F},  // 'a'
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E},  // 'b'
    {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E},  // 'c'
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F},  // 'd'
    {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},  // 'e'
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08},  // 'f'
    {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E},  // 'g'
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11},  // 'h'
    {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},  // 'i'
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C},  // 'j'
    {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12},  // 'k'
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 'l'
    {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11},  // 'm'
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11},  // 'n'
    {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},  // 'o'
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10},  // 'p'
    {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01},  // 'q'
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10},  // 'r'
    {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E},  // 's'
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06},  // 't'
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D},  // 'u'
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04},  // 'v'
    {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A},  // 'w'
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11},  // 'x'
    {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E},  // 'y'
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F},  // 'z'
    {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02},  // '{'
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // '|'
    {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08},  // '}'
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00},  // '~'
};

void DrawText(Document& sheet, int32_t x, int32_t y, const std::string& text, uint16_t ink) {
  for (unsigned char ch : text) {
    const int glyph = ch >= 32 && ch < 127 ? ch - 32 : '?' - 32;
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int col = 0; col < kGlyphWidth; ++col) {
        if ((kFont[glyph][row] >> (kGlyphWidth - 1 - col) & 1) == 0) continue;
        const int32_t px = x + col, py = y + row;
        if (px < 0 || py < 0 || px >= sheet.width || py >= sheet.height) continue;
        for (int c = 0; c < 3; ++c) sheet.At(px, py, c) = ink;
      }
    x += kAdvance;
  }
}

// Words laid into lines of at most `columns` characters; a word longer than
// a line is cut. At most maxLines lines, the last one ending in "..." when
// text is left over.
std::vector<std::string> Wrap(const std::string& text, std::size_t columns, std::size_t maxLines) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(i, end - i);
    i = end + 1;
    if (word.empty()) continue;
    while (word.size() > columns) {
      if (!line.empty()) lines.push_back(line), line.clear();
      lines.push_back(word.substr(0, columns));
      word = word.substr(columns);
    }
    if (line.empty())
      line = word;
    else if (line.size() + 1 + word.size() <= columns)
      line += " " + word;
    else
      lines.push_back(line), line = word;
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.size() > maxLines) {
    lines.resize(maxLines);
    std::string& last = lines.back();
    last = last.substr(0, std::min(last.size(), columns - std::min<std::size_t>(columns, 3))) + "...";
  }
  return lines;
}

// ------------------------------------------------------------ pictures

// The photograph reduced to `width` by averaging the source pixels each
// thumbnail pixel covers.
Document Thumbnail(const Document& photo, int32_t width) {
  width = std::clamp(width, 1, photo.width);
  const int32_t height = std::max(1, static_cast<int32_t>(int64_t{photo.height} * width / photo.width));
  Document t = Document::Make(width, height, photo.depth);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t y0 = static_cast<int32_t>(int64_t{y} * photo.height / height);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{y + 1} * photo.height / height));
    for (int32_t x = 0; x < width; ++x) {
      const int32_t x0 = static_cast<int32_t>(int64_t{x} * photo.width / width);
      const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(int64_t{x + 1} * photo.width / width));
      for (int c = 0; c < 3; ++c) {
        int64_t sum = 0;
        for (int32_t v = y0; v < y1; ++v)
          for (int32_t u = x0; u < x1; ++u) sum += photo.At(u, v, c);
        t.At(x, y, c) = static_cast<uint16_t>(sum / (int64_t{y1 - y0} * (x1 - x0)));
      }
    }
  }
  return t;
}

void Paste(Document& sheet, const Document& cell, int32_t left, int32_t top) {
  const Document c = cell.depth == 8 ? cell : standin::ConvertDepth(cell, 8);
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x)
      for (int k = 0; k < 3; ++k) sheet.At(left + x, top + y, k) = c.At(x, y, k);
}

// ------------------------------------------------------------ the module

std::string ModuleBesideThisProgram() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = ".";
  if (n > 0) {
    self[n] = '\0';
    dir = self;
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  return dir + "/ovra.so";
}

const char* RegistryNameOf(const std::string& filter) {
  const std::string entry = standin::Module::EntryName(filter);
  for (const ps::EntryInfo& e : ps::kEntryTable)
    if (entry == e.entryName) return e.registryName;
  return nullptr;
}

int Fail(const std::string& message) {
  std::cerr << "ovra-contact-sheet: " << message << "\n";
  return 1;
}

int Usage(const std::string& message) {
  std::cerr << "ovra-contact-sheet: " << message << "\n" << kUsage;
  return 2;
}

bool ToInt(const std::string& text, int lo, int hi, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> sets;
  std::string listKey = "presets", modulePath = ModuleBesideThisProgram();
  int depth = 8, width = 160, columns = 6;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      positional.push_back(a);
      continue;
    }
    if (i + 1 >= argc) return Usage(a + " needs a value");
    const std::string v = argv[++i];
    if (a == "--list") {
      listKey = v;
    } else if (a == "--module") {
      modulePath = v;
    } else if (a == "--set") {
      const std::size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return Usage("--set needs KEY=VALUE");
      sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--depth") {
      if (v != "8" && v != "16") return Usage("--depth is 8 or 16");
      depth = std::stoi(v);
    } else if (a == "--width") {
      if (!ToInt(v, 8, 2000, width)) return Usage("--width is 8..2000");
    } else if (a == "--columns") {
      if (!ToInt(v, 1, 100, columns)) return Usage("--columns is 1..100");
    } else {
      return Usage("unknown option " + a);
    }
  }
  if (positional.size() != 3) return Usage("a filter, an input and an output are needed");
  const std::string& filter = positional[0];

  // The effect's table, for its defaults and the names of the list's items.
  const char* registryName = RegistryNameOf(filter);
  if (registryName == nullptr) return Fail("no such filter: " + filter);
  fx::EffectRegistry registry;
  fx::RegisterEffects(registry);
  fx::EffectInstance* effect = registry.Lookup(registryName);
  if (effect == nullptr) return Fail("the module has no effect for " + filter);
  for (uint32_t i = 0; i < effect->parameterCount; ++i) fx::ResetToDefault(effect->parameters[i]);
  const int listIndex = fx::IndexOfKey(*effect, listKey);
  if (listIndex < 0 || (effect->parameters[listIndex].kind != fx::Kind::List &&
                        effect->parameters[listIndex].kind != fx::Kind::ImageFile))
    return Fail(filter + " has no list or image file " + listKey);
  const fx::Parameter& list = effect->parameters[listIndex];
  // The values to sweep and their labels: a list's items after the first,
  // or the pictures of an image file's folder beside the module, by name.
  std::vector<std::pair<std::string, std::string>> items;
  if (list.kind == fx::Kind::List) {
    for (int32_t item = 1; item < list.ItemCount(); ++item) items.emplace_back(std::to_string(item), list.Item(item));
  } else {
    const char* sub = list.declaration != nullptr ? list.declaration->subFolder : nullptr;
    const std::filesystem::path folder = std::filesystem::path(modulePath).parent_path() / (sub ? sub : "");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
      if (entry.is_regular_file(ec)) {
        const std::string name = entry.path().filename().string();
        items.emplace_back(name, entry.path().stem().string());
      }
    if (ec || items.empty()) return Fail("no pictures in " + folder.string());
    std::sort(items.begin(), items.end());
  }

  std::vector<uint8_t> base = fx::BuildSettings(*effect);
  std::string error;
  standin::SettingsView view;
  if (!standin::ParseSettings(base, view, error)) return Fail(error);
  auto set = [&](std::vector<uint8_t>& block, const std::string& key, const std::string& value) {
    for (const auto& r : view.records)
      if (r.key == key) return standin::SetValue(block, r, value, error);
    error = filter + " has no parameter " + key;
    return false;
  };
  for (const auto& [k, v] : sets)
    if (!set(base, k, v)) return Usage(error);

  Document photo;
  if (!standin::ReadImage(positional[1], photo, error)) return Fail(error);
  const Document thumb = standin::ConvertDepth(Thumbnail(photo, width), depth);
  std::unique_ptr<standin::Module> module = standin::Module::Load(modulePath, error);
  if (!module) return Fail(error);

  // The cells: the photograph, then every item after the first.
  struct Cell {
    std::string label;
    Document picture;
  };
  std::vector<Cell> cells = {{"(original)", thumb}};
  for (const auto& [value, label] : items) {
    std::vector<uint8_t> block = base;
    if (!set(block, listKey, value)) return Fail(error);
    standin::Host host;
    host.SetDocument(thumb);
    standin::RunOptions run;
    run.scriptedSettings = block;
    const standin::RunResult r = standin::RunFilter(host, *module, filter, run);
    if (r.result != 0) return Fail(label + ": " + standin::DescribeResult(r.result, r.message));
    cells.push_back({label, host.Doc()});
  }

  // The grid: a title line, then cells of the thumbnail and up to three
  // lines of label.
  constexpr int32_t kGap = 10, kLabelLines = 3;
  const int32_t cellHeight = thumb.height + 4 + kLabelLines * kLineHeight;
  const int32_t cols = std::min<int32_t>(columns, static_cast<int32_t>(cells.size()));
  const int32_t rows = (static_cast<int32_t>(cells.size()) + cols - 1) / cols;
  const int32_t top = kGap + 2 * kLineHeight;
  Document sheet = Document::Make(kGap + cols * (thumb.width + kGap), top + rows * (cellHeight + kGap), 8);
  std::fill(sheet.samples.begin(), sheet.samples.end(), uint16_t{36});
  DrawText(sheet, kGap, kGap,
           std::string(fx::DisplayName(*effect)) + ": " + std::to_string(cells.size() - 1) + " " +
               list.label + ", " + std::to_string(depth) + "-bit",
           235);
  const std::size_t labelColumns = static_cast<std::size_t>(std::max(1, (thumb.width + 1) / kAdvance));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const int32_t left = kGap + static_cast<int32_t>(i % cols) * (thumb.width + kGap);
    const int32_t y = top + static_cast<int32_t>(i / cols) * (cellHeight + kGap);
    Paste(sheet, cells[i].picture, left, y);
    int32_t line = y + thumb.height + 4;
    for (const std::string& text : Wrap(cells[i].label, labelColumns, kLabelLines)) {
      DrawText(sheet, left, line, text, 215);
      line += kLineHeight;
    }
  }
  if (!standin::WriteImage(positional[2], sheet, error)) return Fail(error);
  std::cout << positional[2] << ": " << cells.size() - 1 << " items of " << listKey << "\n";
  return 0;
}
