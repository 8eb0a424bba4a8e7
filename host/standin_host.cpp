#include "host/standin_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <list>
#include <sstream>
#include <type_traits>

#include "host/module_loader.h"
#include "host/regular_file.h"

namespace standin {

// ---------------------------------------------------------------------------
// State behind the protocol's opaque objects.

struct HandleObject {
  std::vector<char> bytes;
  int32_t lockCount = 0;
};

struct BufferObject {
  std::vector<char> bytes;
  bool locked = false;
};

struct ActionDescriptorObject {
  std::map<DescriptorKeyID, std::vector<uint8_t>> data;
};

struct ReadToken {
  DescriptorValues values;
  std::size_t next = 0;
  std::size_t current = SIZE_MAX;
};

struct WriteToken {
  DescriptorValues values;
};

struct PortObject {
  int32_t channel;
  bool writable;
};

struct Host::Impl {
  Host& host;
  std::map<HandleObject*, std::unique_ptr<HandleObject>> handles;
  std::map<BufferObject*, std::unique_ptr<BufferObject>> buffers;
  std::map<char*, std::vector<char>> suiteBuffers;
  std::map<ActionDescriptorObject*, std::unique_ptr<ActionDescriptorObject>> actionDescriptors;
  std::list<ReadToken> readTokens;
  std::list<WriteToken> writeTokens;
  struct RegistryEntry {
    std::map<DescriptorKeyID, std::vector<uint8_t>> data;
    bool persistent = false;
  };
  std::map<std::string, RegistryEntry> registry;
  int32_t handlesMade = 0;

  // Procs and suites handed to the module.
  HandleProcs handleProcs{};
  BufferProcs bufferProcs{};
  ReadDescriptorProcs readProcs{};
  WriteDescriptorProcs writeProcs{};
  PIDescriptorParameters descriptorParameters{};
  SPBasicSuite basic{};
  SPPluginsSuite4 plugins{};
  PSChannelPortsSuite1 ports{};
  PSBufferSuite1 bufferSuite{};
  PSDescriptorRegistryProcs registryProcs{};
  PSActionDescriptorProcs actionProcs{};
  NativeWindowOps windowOps{};
  PlatformData platform{};
  ReadImageDocumentDesc documentDesc{};
  ReadChannelDesc channels[3]{};
  PortObject readPorts[3] = {{0, false}, {1, false}, {2, false}};
  PortObject writePorts[3] = {{0, true}, {1, true}, {2, true}};
  std::map<std::string, int32_t> acquired;  // suites currently acquired

  // The interleaved path's current input and output areas.
  std::vector<uint8_t> inBuffer, outBuffer;
  VRect outArea{};

  // The last rectangle moved from the pixel store: the module reads and
  // writes the three channels of one rectangle in turn.
  enum class Part { kNone, kSource, kResult };
  Document part;
  VRect partRect{};
  Part partKind = Part::kNone;

  explicit Impl(Host& h) : host(h) {}
  void Commit();
};

namespace {

Host* g_active = nullptr;

Host::Impl& I() { return Host::Active()->impl(); }

HandleObject* H(Handle h) { return reinterpret_cast<HandleObject*>(h); }

VRect Clip(VRect r, int32_t width, int32_t height) {
  r.top = std::clamp(r.top, 0, height);
  r.bottom = std::clamp(r.bottom, r.top, height);
  r.left = std::clamp(r.left, 0, width);
  r.right = std::clamp(r.right, r.left, width);
  return r;
}

// Samples between depths: 8 -> 16 as the module maps magnitudes, 16 -> 8
// rounded.
inline uint16_t ConvertSample(uint16_t v, int32_t fromDepth, int32_t toDepth) {
  if (fromDepth == toDepth) return v;
  if (toDepth == 16) return static_cast<uint16_t>(v * 128.5 + 0.5);
  return static_cast<uint16_t>((v * 255 + 16384) / 32768);
}

bool SameRect(const VRect& a, const VRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// Rectangle r (inside the document) of the pixel store's source or result,
// as a document of r's size.
Document& StorePart(Host& host, const VRect& r, bool source) {
  Host::Impl& impl = host.impl();
  const auto kind = source ? Host::Impl::Part::kSource : Host::Impl::Part::kResult;
  if (impl.partKind != kind || !SameRect(impl.partRect, r)) {
    impl.partKind = Host::Impl::Part::kNone;
    impl.part = Document::Make(r.right - r.left, r.bottom - r.top, host.Doc().depth);
    if (!impl.part.samples.empty()) {
      if (source)
        host.Store()->ReadSource(r, impl.part.samples.data());
      else
        host.Store()->ReadResult(r, impl.part.samples.data());
    }
    impl.partRect = r;
    impl.partKind = kind;
  }
  return impl.part;
}

VRect Shifted(const VRect& r, int32_t top, int32_t left) {
  return {r.top - top, r.left - left, r.bottom - top, r.right - left};
}

uint8_t* SampleAddress(const PixelMemoryDesc* desc, int32_t row, int32_t column) {
  return static_cast<uint8_t*>(desc->data) + (static_cast<int64_t>(row) * desc->rowBits +
                                              static_cast<int64_t>(column) * desc->colBits + desc->bitOffset) /
                                                 8;
}

void StoreSample(const PixelMemoryDesc* desc, int32_t row, int32_t column, uint16_t v) {
  uint8_t* p = SampleAddress(desc, row, column);
  if (desc->depth == 16) {
    std::memcpy(p, &v, 2);
  } else {
    *p = static_cast<uint8_t>(v);
  }
}


std::vector<uint8_t> EncodeDescriptor(const DescriptorValues& values) {
  std::vector<uint8_t> out;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (const auto& [key, typed] : values) {
    put32(key);
    put32(typed.first);
    put32(static_cast<uint32_t>(typed.second.size()));
    out.insert(out.end(), typed.second.begin(), typed.second.end());
  }
  return out;
}

DescriptorValues DecodeDescriptor(const std::vector<uint8_t>& bytes) {
  DescriptorValues values;
  std::size_t at = 0;
  auto get32 = [&](uint32_t& v) {
    if (bytes.size() - at < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    at += 4;
    return true;
  };
  while (at < bytes.size()) {
    uint32_t key, type, length;
    if (!get32(key) || !get32(type) || !get32(length) || bytes.size() - at < length) break;
    values.push_back({key, {type, std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length))}});
    at += length;
  }
  return values;
}

// --- handle callbacks ------------------------------------------------------

Handle NewHandleProc(int32_t size) {
  Host::Impl& impl = I();
  if (size < 0) return nullptr;
  const int32_t limit = impl.host.Options().handlesBeforeFailure;
  if (limit >= 0 && impl.handlesMade >= limit) return nullptr;
  ++impl.handlesMade;
  auto obj = std::make_unique<HandleObject>();
  obj->bytes.assign(static_cast<std::size_t>(size), 0);
  HandleObject* raw = obj.get();
  impl.handles[raw] = std::move(obj);
  return reinterpret_cast<Handle>(raw);
}

void DisposeHandleProc(Handle h) {
  if (h != nullptr) I().handles.erase(H(h));
}

int32_t GetSizeProc(Handle h) {
  auto& handles = I().handles;
  auto it = handles.find(H(h));
  return it == handles.end() ? 0 : static_cast<int32_t>(it->second->bytes.size());
}

OSErr SetSizeProc(Handle h, int32_t size) {
  auto& handles = I().handles;
  auto it = handles.find(H(h));
  if (it == handles.end() || size < 0) return memFullErr;
  it->second->bytes.resize(static_cast<std::size_t>(size));
  return noErr;
}

char* LockHandleProc(Handle h, Boolean) {
  auto& handles = I().handles;
  auto it = handles.find(H(h));
  if (it == handles.end()) return nullptr;
  ++it->second->lockCount;
  return it->second->bytes.empty() ? reinterpret_cast<char*>(it->second.get()) : it->second->bytes.data();
}

void UnlockHandleProc(Handle h) {
  auto& handles = I().handles;
  auto it = handles.find(H(h));
  if (it != handles.end() && it->second->lockCount > 0) --it->second->lockCount;
}

// --- buffer callbacks ------------------------------------------------------

OSErr AllocateBufferProc(int32_t size, BufferID* id) {
  if (size < 0 || id == nullptr) return memFullErr;
  auto obj = std::make_unique<BufferObject>();
  obj->bytes.assign(static_cast<std::size_t>(size), 0);
  *id = reinterpret_cast<BufferID>(obj.get());
  I().buffers[obj.get()] = std::move(obj);
  ++I().host.bufferProcsBuffersLive;
  return noErr;
}

char* LockBufferProc(BufferID id, Boolean) {
  auto& buffers = I().buffers;
  auto it = buffers.find(reinterpret_cast<BufferObject*>(id));
  if (it == buffers.end()) return nullptr;
  it->second->locked = true;
  return it->second->bytes.data();
}

void UnlockBufferProc(BufferID id) {
  auto& buffers = I().buffers;
  auto it = buffers.find(reinterpret_cast<BufferObject*>(id));
  if (it != buffers.end()) it->second->locked = false;
}

void FreeBufferProc(BufferID id) {
  if (I().buffers.erase(reinterpret_cast<BufferObject*>(id)) > 0) --I().host.bufferProcsBuffersLive;
}

int32_t BufferSpaceProc() { return 1 << 30; }

// --- descriptor callbacks --------------------------------------------------

PIReadDescriptor OpenReadDescriptor(PIDescriptorHandle descriptor, const DescriptorKeyID*) {
  Host::Impl& impl = I();
  Handle h = reinterpret_cast<Handle>(descriptor);
  auto it = impl.handles.find(H(h));
  if (it == impl.handles.end()) return nullptr;
  impl.readTokens.push_back({});
  ReadToken& token = impl.readTokens.back();
  token.values = DecodeDescriptor({it->second->bytes.begin(), it->second->bytes.end()});
  return reinterpret_cast<PIReadDescriptor>(&token);
}

ReadToken* FindRead(PIReadDescriptor t) {
  for (ReadToken& token : I().readTokens)
    if (reinterpret_cast<PIReadDescriptor>(&token) == t) return &token;
  return nullptr;
}

OSErr CloseReadDescriptor(PIReadDescriptor t) {
  I().readTokens.remove_if([t](ReadToken& token) { return reinterpret_cast<PIReadDescriptor>(&token) == t; });
  return noErr;
}

Boolean GetKey(PIReadDescriptor t, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
  ReadToken* token = FindRead(t);
  if (token == nullptr || token->next >= token->values.size()) return 0;
  token->current = token->next++;
  *key = token->values[token->current].first;
  *type = token->values[token->current].second.first;
  if (flags) *flags = 0;
  return 1;
}

OSErr GetText(PIReadDescriptor t, Handle* text) {
  ReadToken* token = FindRead(t);
  if (token == nullptr || token->current >= token->values.size()) return errPlugInHostInsufficient;
  const auto& typed = token->values[token->current].second;
  if (typed.first != typeText) return errPlugInHostInsufficient;
  *text = I().host.NewHandle(typed.second);
  return *text != nullptr ? noErr : memFullErr;
}

PIWriteDescriptor OpenWriteDescriptor() {
  I().writeTokens.push_back({});
  return reinterpret_cast<PIWriteDescriptor>(&I().writeTokens.back());
}

WriteToken* FindWrite(PIWriteDescriptor t) {
  for (WriteToken& token : I().writeTokens)
    if (reinterpret_cast<PIWriteDescriptor>(&token) == t) return &token;
  return nullptr;
}

OSErr CloseWriteDescriptor(PIWriteDescriptor t, PIDescriptorHandle* descriptor) {
  WriteToken* token = FindWrite(t);
  if (token == nullptr) return errPlugInHostInsufficient;
  Handle h = I().host.NewHandle(EncodeDescriptor(token->values));
  if (descriptor) *descriptor = reinterpret_cast<PIDescriptorHandle>(h);
  I().writeTokens.remove_if([t](WriteToken& w) { return reinterpret_cast<PIWriteDescriptor>(&w) == t; });
  return h != nullptr ? noErr : memFullErr;
}

OSErr PutText(PIWriteDescriptor t, DescriptorKeyID key, Handle text) {
  WriteToken* token = FindWrite(t);
  if (token == nullptr) return errPlugInHostInsufficient;
  std::vector<uint8_t> bytes = I().host.HandleBytes(text);
  token->values.push_back({key, {typeText, std::move(bytes)}});
  return noErr;
}

// --- basic suite and named services ---------------------------------------

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  Host::Impl& impl = I();
  *suite = nullptr;
  const std::string n = name ? name : "";
  if (impl.host.Options().missingSuites.count(n)) return kSPSuiteNotFoundError;
  const void* found = nullptr;
  if (n == kSPPluginsSuite && version == kSPPluginsSuiteVersion) found = &impl.plugins;
  if (n == kPSChannelPortsSuite && version == kPSChannelPortsSuiteVersion2) found = &impl.ports;
  if (n == kPSBufferSuite && version == kPSBufferSuiteVersion1 && !impl.host.Options().interleaved)
    found = &impl.bufferSuite;
  if (n == kPSDescriptorRegistrySuite && version == kPSDescriptorRegistrySuiteVersion) found = &impl.registryProcs;
  if (n == kPSActionDescriptorSuite && version == kPSActionDescriptorSuiteVersion) found = &impl.actionProcs;
  if (found == nullptr) return kSPSuiteNotFoundError;
  ++impl.acquired[n];
  *suite = found;
  return kSPNoError;
}

SPErr ReleaseSuite(const char* name, int32_t) {
  auto& acquired = I().acquired;
  auto it = acquired.find(name ? name : "");
  if (it == acquired.end() || it->second == 0) return kSPBadParameterError;
  if (--it->second == 0) acquired.erase(it);
  return kSPNoError;
}

SPErr GetPluginFileSpecification(SPPluginRef, SPPlatformFileSpecification* file) {
  Host& host = *Host::Active();
  if (host.Options().noPluginsSuiteAnswer) return kSPBadParameterError;
  std::snprintf(file->path, sizeof file->path, "%s", host.impl().host.Record().plugInRef
                                                        ? reinterpret_cast<const char*>(host.Record().plugInRef)
                                                        : "");
  return kSPNoError;
}

// Channel ports.
// Copies one channel of a document rectangle into pixel memory, or back.
// The rows run through one loop whose sample stride and depth conversion
// are fixed at compile time for the layouts the module uses (four samples a
// pixel at the document's depth), so that moving a band costs little beside
// rendering it.
// `toMemory`: the conversion from the document's depth to the memory's, else
// back.
template <class Sample, class Row>
void ForEachLayout(int32_t docDepth, const PixelMemoryDesc* desc, bool toMemory, Row&& row) {
  const int64_t colBytes = desc->colBits / 8;
  const int32_t toDepth = toMemory ? desc->depth : docDepth;
  const auto withConversion = [&](auto stride) {
    if (docDepth == desc->depth)
      row(stride, [](uint16_t v) { return v; });
    else if (toDepth == 16)
      row(stride, [](uint16_t v) { return ConvertSample(v, 8, 16); });
    else
      row(stride, [](uint16_t v) { return ConvertSample(v, 16, 8); });
  };
  if (colBytes == static_cast<int64_t>(4 * sizeof(Sample)))
    withConversion(std::integral_constant<int64_t, 4 * sizeof(Sample)>{});
  else
    withConversion(colBytes);
}

// Rows of a document in memory, as CopyOut reads them.
struct DocumentRows {
  const Document& doc;
  int32_t Depth() const { return doc.depth; }
  const uint16_t* Row(int32_t y) { return doc.samples.data() + static_cast<std::size_t>(y) * doc.width * 3; }
};

// Rows of the source: the document as the filter began, its overwritten
// rows from the backup. Rows loaded stay for the reader's lifetime.
class SourceRows {
 public:
  SourceRows(const Document& doc, const RowBackup& backup) : doc_(doc), backup_(backup) {}
  int32_t Depth() const { return doc_.depth; }
  const uint16_t* Row(int32_t y) {
    const std::size_t rowSamples = static_cast<std::size_t>(doc_.width) * 3;
    if (!backup_.Saved(y)) return doc_.samples.data() + static_cast<std::size_t>(y) * rowSamples;
    std::vector<uint16_t>& row = loaded_[y];
    if (row.empty()) {
      row.resize(rowSamples);
      if (!backup_.Load(y, row.data())) failed_ = true;
    }
    return row.data();
  }
  uint16_t At(int32_t x, int32_t y, int c) { return Row(y)[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c)]; }
  // A saved row could not be read back.
  bool Failed() const { return failed_; }

 private:
  const Document& doc_;
  const RowBackup& backup_;
  std::map<int32_t, std::vector<uint16_t>> loaded_;
  bool failed_ = false;
};

// What a port call returns when the scratch file fails it: the classic
// I/O error.
constexpr SPErr kScratchReadError = -36;

template <class Sample, class Rows>
void CopyOut(Rows& rows, int32_t channel, const VRect& r, const VRect& origin, const PixelMemoryDesc* desc) {
  ForEachLayout<Sample>(rows.Depth(), desc, true, [&](auto stride, auto convert) {
    const int64_t colBytes = stride;
    for (int32_t y = r.top; y < r.bottom; ++y) {
      const uint16_t* in = rows.Row(y) + static_cast<std::size_t>(r.left) * 3 + static_cast<std::size_t>(channel);
      uint8_t* out = SampleAddress(desc, y - origin.top, r.left - origin.left);
      const int32_t n = r.right - r.left;
      for (int32_t x = 0; x < n; ++x) {
        const auto v = static_cast<Sample>(convert(in[3 * x]));
        std::memcpy(out + x * colBytes, &v, sizeof v);
      }
    }
  });
}

// Saves the original samples of the document's rows [top, bottom) before a
// write reaches them.
void SaveSourceRows(Host& host, int32_t top, int32_t bottom) {
  Document& doc = host.Doc();
  RowBackup& backup = host.Backup();
  for (int32_t y = top; y < bottom; ++y)
    if (!backup.Saved(y)) backup.Save(y, doc.samples.data() + static_cast<std::size_t>(y) * doc.width * 3);
}

template <class Sample>
void CopyIn(Document& doc, int32_t channel, const VRect& r, const VRect& origin, const PixelMemoryDesc* desc) {
  const uint16_t full = static_cast<uint16_t>(doc.FullScale());
  ForEachLayout<Sample>(doc.depth, desc, false, [&](auto stride, auto convert) {
    const int64_t colBytes = stride;
    for (int32_t y = r.top; y < r.bottom; ++y) {
      uint16_t* out = &doc.samples[(static_cast<std::size_t>(y) * doc.width + r.left) * 3 + channel];
      const uint8_t* in = SampleAddress(desc, y - origin.top, r.left - origin.left);
      const int32_t n = r.right - r.left;
      for (int32_t x = 0; x < n; ++x) {
        Sample v;
        std::memcpy(&v, in + x * colBytes, sizeof v);
        out[3 * x] = std::min<uint16_t>(convert(v), full);
      }
    }
  });
}

SPErr ReadPixelsFromLevel(PIChannelPort port, int32_t level, VRect* rect, const PixelMemoryDesc* desc) {
  Host& host = *Host::Active();
  auto* p = reinterpret_cast<PortObject*>(port);
  if (p == nullptr || level != 0 || rect == nullptr || desc == nullptr) return kSPBadParameterError;
  const Document& doc = host.Doc();
  const VRect r = Clip(*rect, doc.width, doc.height);
  if (host.Store() != nullptr) {
    DocumentRows part{StorePart(host, r, true)};
    const VRect within = Shifted(r, r.top, r.left), origin = Shifted(*rect, r.top, r.left);
    if (desc->depth == 16) {
      CopyOut<uint16_t>(part, p->channel, within, origin, desc);
    } else {
      CopyOut<uint8_t>(part, p->channel, within, origin, desc);
    }
  } else {
    SourceRows source(doc, host.Backup());
    if (desc->depth == 16) {
      CopyOut<uint16_t>(source, p->channel, r, *rect, desc);
    } else {
      CopyOut<uint8_t>(source, p->channel, r, *rect, desc);
    }
    if (source.Failed()) return kScratchReadError;
  }
  host.fullReadPixels += static_cast<int64_t>(r.bottom - r.top) * (r.right - r.left);
  *rect = r;
  return kSPNoError;
}

SPErr WritePixelsToBaseLevel(PIChannelPort port, const VRect* rect, const PixelMemoryDesc* desc) {
  Host& host = *Host::Active();
  auto* p = reinterpret_cast<PortObject*>(port);
  if (p == nullptr || !p->writable || rect == nullptr || desc == nullptr) return kSPBadParameterError;
  Document& doc = host.Doc();
  const VRect r = Clip(*rect, doc.width, doc.height);
  if (host.Store() != nullptr) {
    Document& part = StorePart(host, r, false);
    const VRect within = Shifted(r, r.top, r.left), origin = Shifted(*rect, r.top, r.left);
    if (desc->depth == 16) {
      CopyIn<uint16_t>(part, p->channel, within, origin, desc);
    } else {
      CopyIn<uint8_t>(part, p->channel, within, origin, desc);
    }
    if (!part.samples.empty()) host.Store()->WriteResult(r, part.samples.data());
  } else {
    SaveSourceRows(host, r.top, r.bottom);
    if (desc->depth == 16) {
      CopyIn<uint16_t>(doc, p->channel, r, *rect, desc);
    } else {
      CopyIn<uint8_t>(doc, p->channel, r, *rect, desc);
    }
  }
  return kSPNoError;
}

// Scaled reads average the source pixels each destination pixel covers.
SPErr ReadScaledPixels(PIChannelPort port, VRect* readRect, const PSScaling* scaling, const PixelMemoryDesc* desc) {
  Host& host = *Host::Active();
  auto* p = reinterpret_cast<PortObject*>(port);
  if (p == nullptr || scaling == nullptr || desc == nullptr) return kSPBadParameterError;
  const Document& doc = host.Doc();
  SourceRows source(doc, host.Backup());
  const VRect s = Clip(scaling->sourceRect, doc.width, doc.height);
  const int32_t sw = s.right - s.left, sh = s.bottom - s.top;
  const int32_t dw = scaling->destinationRect.right - scaling->destinationRect.left;
  const int32_t dh = scaling->destinationRect.bottom - scaling->destinationRect.top;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return kSPNoError;
  for (int32_t dy = 0; dy < dh; ++dy) {
    const int32_t y0 = s.top + static_cast<int32_t>(static_cast<int64_t>(dy) * sh / dh);
    const int32_t y1 = std::max(y0 + 1, s.top + static_cast<int32_t>(static_cast<int64_t>(dy + 1) * sh / dh));
    // From a pixel store, the rows this output row covers.
    const Document* part = host.Store() != nullptr ? &StorePart(host, {y0, s.left, y1, s.right}, true) : nullptr;
    const int32_t top = part != nullptr ? y0 : 0, left = part != nullptr ? s.left : 0;
    for (int32_t dx = 0; dx < dw; ++dx) {
      const int32_t x0 = s.left + static_cast<int32_t>(static_cast<int64_t>(dx) * sw / dw);
      const int32_t x1 = std::max(x0 + 1, s.left + static_cast<int32_t>(static_cast<int64_t>(dx + 1) * sw / dw));
      int64_t sum = 0;
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
          sum += part != nullptr ? part->At(x - left, y - top, p->channel) : source.At(x, y, p->channel);
      const int64_t n = static_cast<int64_t>(y1 - y0) * (x1 - x0);
      const auto v = static_cast<uint16_t>((sum + n / 2) / n);
      StoreSample(desc, dy, dx, ConvertSample(v, doc.depth, desc->depth));
    }
  }
  if (source.Failed()) return kScratchReadError;
  host.scaledReadPixels += static_cast<int64_t>(dw) * dh;
  if (readRect) *readRect = s;
  return kSPNoError;
}

char* BufferNew(uint32_t* requestedSize, uint32_t minimumSize) {
  const uint32_t size = std::max(requestedSize ? *requestedSize : 0u, minimumSize);
  std::vector<char> bytes;
  try {
    bytes.assign(size ? size : 1, 0);
  } catch (...) {
    return nullptr;
  }
  char* p = bytes.data();
  I().suiteBuffers[p] = std::move(bytes);
  ++I().host.bufferSuiteBuffersLive;
  if (requestedSize) *requestedSize = size;
  return p;
}

void BufferDispose(char** buffer) {
  if (buffer == nullptr || *buffer == nullptr) return;
  if (I().suiteBuffers.erase(*buffer) > 0) --I().host.bufferSuiteBuffersLive;
  *buffer = nullptr;
}

uint32_t BufferGetSize(char* buffer) {
  auto it = I().suiteBuffers.find(buffer);
  return it == I().suiteBuffers.end() ? 0 : static_cast<uint32_t>(it->second.size());
}

uint32_t BufferGetSpace() { return 1u << 30; }

// Descriptor registry and action descriptors.
ActionDescriptorObject* A(PIActionDescriptor d) {
  auto& all = I().actionDescriptors;
  auto it = all.find(reinterpret_cast<ActionDescriptorObject*>(d));
  return it == all.end() ? nullptr : it->second.get();
}

SPErr MakeDescriptor(PIActionDescriptor* d) {
  auto obj = std::make_unique<ActionDescriptorObject>();
  *d = reinterpret_cast<PIActionDescriptor>(obj.get());
  I().actionDescriptors[obj.get()] = std::move(obj);
  return kSPNoError;
}

SPErr FreeDescriptor(PIActionDescriptor d) {
  return I().actionDescriptors.erase(reinterpret_cast<ActionDescriptorObject*>(d)) ? kSPNoError : kSPBadParameterError;
}

SPErr PutData(PIActionDescriptor d, DescriptorKeyID key, int32_t length, const void* value) {
  ActionDescriptorObject* obj = A(d);
  if (obj == nullptr || length < 0) return kSPBadParameterError;
  const auto* bytes = static_cast<const uint8_t*>(value);
  obj->data[key].assign(bytes, bytes + length);
  return kSPNoError;
}

SPErr GetDataLength(PIActionDescriptor d, DescriptorKeyID key, int32_t* length) {
  ActionDescriptorObject* obj = A(d);
  if (obj == nullptr || !obj->data.count(key)) return kSPBadParameterError;
  *length = static_cast<int32_t>(obj->data[key].size());
  return kSPNoError;
}

SPErr GetData(PIActionDescriptor d, DescriptorKeyID key, void* value) {
  ActionDescriptorObject* obj = A(d);
  if (obj == nullptr || !obj->data.count(key)) return kSPBadParameterError;
  std::memcpy(value, obj->data[key].data(), obj->data[key].size());
  return kSPNoError;
}

SPErr RegistryRegister(const char* key, PIActionDescriptor d, Boolean persistent) {
  ActionDescriptorObject* obj = A(d);
  if (obj == nullptr || key == nullptr) return kSPBadParameterError;
  I().registry[key] = {obj->data, persistent != 0};
  return kSPNoError;
}

SPErr RegistryErase(const char* key) {
  return key && I().registry.erase(key) ? kSPNoError : kSPBadParameterError;
}

SPErr RegistryGet(const char* key, PIActionDescriptor* d) {
  *d = nullptr;
  auto it = I().registry.find(key ? key : "");
  if (it == I().registry.end()) return kSPNoError;
  MakeDescriptor(d);
  A(*d)->data = it->second.data;
  return kSPNoError;
}

// Interleaved transfer.
int32_t SampleBytes(const Document& doc) { return doc.depth == 16 ? 2 : 1; }

std::size_t PlaneBytes(const Document& doc, int32_t width, int32_t height) {
  return static_cast<std::size_t>(std::max(width, 0)) * std::max(height, 0) * 3 * SampleBytes(doc);
}

void StorePlaneSample(const Document& doc, uint8_t* plane, std::size_t index, uint16_t v) {
  if (doc.depth == 16)
    std::memcpy(plane + 2 * index, &v, sizeof v);
  else
    plane[index] = static_cast<uint8_t>(v);
}

uint16_t LoadPlaneSample(const Document& doc, const uint8_t* plane, std::size_t index) {
  if (doc.depth != 16) return plane[index];
  uint16_t v;
  std::memcpy(&v, plane + 2 * index, sizeof v);
  return v;
}

OSErr AdvanceState() {
  Host& host = *Host::Active();
  Host::Impl& impl = host.impl();
  FilterRecord& r = host.Record();
  ++host.advanceStateCalls;
  host.requestedInputRects.push_back(r.inRect);
  impl.Commit();
  // The planes hold the document's samples: one byte each at 8 bits, two
  // (native order) at 16 bits.
  const Document& doc = host.Doc();
  SourceRows source(doc, host.Backup());
  const VRect in = Clip(r.inRect, doc.width, doc.height);
  const int32_t iw = in.right - in.left, ih = in.bottom - in.top;
  impl.inBuffer.assign(PlaneBytes(doc, iw, ih) + 1, 0);
  const bool stored = host.Store() != nullptr;
  {
    const Document* part = stored ? &StorePart(host, in, true) : nullptr;
    for (int32_t y = 0; y < ih; ++y)
      for (int32_t x = 0; x < iw; ++x)
        for (int c = 0; c < 3; ++c)
          StorePlaneSample(doc, impl.inBuffer.data(), (static_cast<std::size_t>(y) * iw + x) * 3 + c,
                           part != nullptr ? part->At(x, y, c) : source.At(in.left + x, in.top + y, c));
  }
  if (source.Failed()) return kScratchReadError;
  r.inData = impl.inBuffer.data();
  r.inRowBytes = iw * 3 * SampleBytes(doc);
  host.fullReadPixels += static_cast<int64_t>(iw) * ih;
  const Document& result = host.Doc();
  const VRect out = Clip(r.outRect, result.width, result.height);
  const int32_t ow = out.right - out.left, oh = out.bottom - out.top;
  impl.outArea = out;
  impl.outBuffer.assign(PlaneBytes(result, ow, oh) + 1, 0);
  {
    const Document& from = stored ? StorePart(host, out, false) : result;
    const int32_t top = stored ? 0 : out.top, left = stored ? 0 : out.left;
    for (int32_t y = 0; y < oh; ++y)
      for (int32_t x = 0; x < ow; ++x)
        for (int c = 0; c < 3; ++c)
          StorePlaneSample(result, impl.outBuffer.data(), (static_cast<std::size_t>(y) * ow + x) * 3 + c,
                           from.At(left + x, top + y, c));
  }
  r.outData = impl.outBuffer.data();
  r.outRowBytes = ow * 3 * SampleBytes(result);
  return noErr;
}

Boolean TestAbort() {
  Host& host = *Host::Active();
  const int32_t after = host.Options().abortAfterTiles;
  return after >= 0 && static_cast<int32_t>(host.progress.size()) >= after;
}

void Progress(int32_t done, int32_t total) {
  Host& host = *Host::Active();
  host.progress.push_back({done, total});
  if (host.onProgress) host.onProgress(done, total);
}

OSErr DisplayPixels(const PSPixelMap*, const VRect*, int32_t, int32_t, void*) {
  ++Host::Active()->displayPixelsCalls;
  return noErr;
}

// Native window operations, recorded.
void Record(const std::string& call) { Host::Active()->windowCalls.push_back(call); }
void SetChildStyle(void*, intptr_t w) { Record("setChildStyle " + std::to_string(w)); }
void SetParent(void*, intptr_t child, intptr_t parent) {
  Record("setParent " + std::to_string(child) + " " + std::to_string(parent));
}
void EnableWindow(void*, intptr_t w, Boolean on) {
  Record(std::string(on ? "enable " : "disable ") + std::to_string(w));
}
intptr_t GetFocus(void*) {
  Record("getFocus");
  return 0;
}
void SetFocus(void*, intptr_t w) { Record("setFocus " + std::to_string(w)); }
void SetActiveWindow(void*, intptr_t w) { Record("setActiveWindow " + std::to_string(w)); }
void BringWindowToTop(void*, intptr_t w) { Record("bringWindowToTop " + std::to_string(w)); }

}  // namespace

void Host::Impl::Commit() {
  const int32_t ow = outArea.right - outArea.left, oh = outArea.bottom - outArea.top;
  if (ow <= 0 || oh <= 0) return;
  Document& doc = host.Doc();
  const int32_t full = doc.FullScale();
  const bool stored = host.Store() != nullptr;
  Document& to = stored ? StorePart(host, outArea, false) : doc;
  if (!stored) SaveSourceRows(host, outArea.top, outArea.top + oh);
  const int32_t top = stored ? 0 : outArea.top, left = stored ? 0 : outArea.left;
  for (int32_t y = 0; y < oh; ++y)
    for (int32_t x = 0; x < ow; ++x)
      for (int c = 0; c < 3; ++c)
        to.At(left + x, top + y, c) = static_cast<uint16_t>(
            std::min<int32_t>(LoadPlaneSample(doc, outBuffer.data(), (static_cast<std::size_t>(y) * ow + x) * 3 + c), full));
  if (stored) host.Store()->WriteResult(outArea, to.samples.data());
  outArea = {};
}

Host* Host::Active() { return g_active; }

Host::Host(HostOptions options) : options_(std::move(options)), impl_(std::make_unique<Impl>(*this)) {
  g_active = this;
  Impl& m = *impl_;
  m.handleProcs = {1, 6, &NewHandleProc, &DisposeHandleProc, &GetSizeProc, &SetSizeProc, &LockHandleProc, &UnlockHandleProc};
  m.bufferProcs = {1, 5, &AllocateBufferProc, &LockBufferProc, &UnlockBufferProc, &FreeBufferProc, &BufferSpaceProc};
  m.readProcs = {1, 4, &OpenReadDescriptor, &CloseReadDescriptor, &GetKey, &GetText};
  m.writeProcs = {1, 3, &OpenWriteDescriptor, &CloseWriteDescriptor, &PutText};
  m.descriptorParameters = {1, plugInDialogDisplay, plugInDialogOptional, nullptr, &m.writeProcs, &m.readProcs};
  m.basic = {&AcquireSuite, &ReleaseSuite};
  m.plugins = {&GetPluginFileSpecification};
  m.ports = {&ReadPixelsFromLevel, &WritePixelsToBaseLevel, &ReadScaledPixels};
  m.bufferSuite = {&BufferNew, &BufferDispose, &BufferGetSize, &BufferGetSpace};
  m.registryProcs = {&RegistryRegister, &RegistryErase, &RegistryGet};
  m.actionProcs = {&MakeDescriptor, &FreeDescriptor, &PutData, &GetDataLength, &GetData};
  m.windowOps = {this, &SetChildStyle, &SetParent, &EnableWindow, &GetFocus, &SetFocus, &SetActiveWindow, &BringWindowToTop};
  m.platform = {Window(), &m.windowOps};
  for (int c = 0; c < 3; ++c) {
    ReadChannelDesc& ch = m.channels[c];
    ch.minVersion = ch.maxVersion = 1;
    ch.next = c < 2 ? &m.channels[c + 1] : nullptr;
    ch.port = reinterpret_cast<PIChannelPort>(&m.readPorts[c]);
    ch.writePort = reinterpret_cast<PIChannelPort>(&m.writePorts[c]);
    ch.channelType = static_cast<int16_t>(ctRed + c);
    ch.target = ch.shown = 1;
    static const char* const kNames[] = {"Red", "Green", "Blue"};
    ch.name = kNames[c];
  }
  m.documentDesc.minVersion = m.documentDesc.maxVersion = 1;
  m.documentDesc.targetCompositeChannels = &m.channels[0];

  record_.handleProcs = &m.handleProcs;
  record_.bufferProcs = &m.bufferProcs;
  record_.advanceState = &AdvanceState;
  record_.abortProc = &TestAbort;
  record_.progressProc = &Progress;
  record_.displayPixels = &DisplayPixels;
  record_.errorString = &errorString_;
  record_.documentInfo = &m.documentDesc;
  record_.platformData = &m.platform;
  SetDocument(Document::Make(1, 1, 8));
}

Host::~Host() {
  if (g_active == this) g_active = nullptr;
}

void Host::SetPixelStore(PixelStore* store, int32_t width, int32_t height, int32_t depth) {
  Document shape;
  shape.width = width;
  shape.height = height;
  shape.depth = depth;
  SetDocument(std::move(shape));
  store_ = store;
}

void Host::SetDocument(Document doc) {
  store_ = nullptr;
  impl_->partKind = Impl::Part::kNone;
  document_ = std::move(doc);
  backup_.Reset(document_.height, static_cast<std::size_t>(std::max(document_.width, 0)) * 3);
  record_.imageSize = {document_.height, document_.width};
  record_.filterRect = {0, 0, document_.height, document_.width};
  record_.depth = document_.depth;
  record_.imageMode = document_.depth == 16 ? plugInModeRGB48 : plugInModeRGBColor;
  record_.planes = 3;
  Impl& m = *impl_;
  m.documentDesc.imageMode = record_.imageMode;
  m.documentDesc.depth = document_.depth;
  m.documentDesc.bounds = record_.filterRect;
  for (ReadChannelDesc& ch : m.channels) {
    ch.bounds = record_.filterRect;
    ch.depth = document_.depth;
  }
}

void Host::BeginSource() {
  backup_.Reset(document_.height, static_cast<std::size_t>(std::max(document_.width, 0)) * 3);
}

void Host::SetFilterRect(const VRect& r) { record_.filterRect = r; }

void Host::PrepareRecord(const std::string& pluginPath) {
  g_active = this;
  FilterRecord& r = record_;
  const HostOptions& o = options_;
  r.sSPBasic = o.noBasicSuite ? nullptr : &impl_->basic;
  r.descriptorParameters = o.noDescriptorParameters ? nullptr : &impl_->descriptorParameters;
  r.hostSig = o.hostSignature;
  if (o.tileRows > 0) {
    r.outTileSize = {o.tileRows, r.filterRect.right - r.filterRect.left};
  } else {
    r.outTileSize = {0, 0};
  }
  r.outTileOrigin = {0, 0};
  pluginPath_ = o.pluginsSuiteAnswer.empty() ? pluginPath : o.pluginsSuiteAnswer;
  r.plugInRef = reinterpret_cast<SPPluginRef>(const_cast<char*>(pluginPath_.c_str()));
}

int16_t Host::Call(const Module& module, const std::string& entry, int32_t selector) {
  PluginMainProc proc = module.Entry(entry);
  if (proc == nullptr) return errPlugInHostInsufficient;
  PrepareRecord(module.Path());
  if (selector == filterSelectorStart) BeginSource();
  int16_t result = 12345;  // the module must write its result
  proc(selector, &record_, &dataWord_, &result);
  return result;
}

int16_t Host::Call(PluginMainProc proc, int32_t selector) {
  PrepareRecord(pluginPath_);
  if (selector == filterSelectorStart) BeginSource();
  int16_t result = 12345;
  proc(selector, &record_, &dataWord_, &result);
  return result;
}

int16_t Host::CallAbout(const Module& module, const std::string& entry) {
  g_active = this;
  PluginMainProc proc = module.Entry(entry);
  if (proc == nullptr) return errPlugInHostInsufficient;
  AboutRecord about{&impl_->platform, options_.noBasicSuite ? nullptr : &impl_->basic, nullptr};
  intptr_t data = 0;
  int16_t result = 12345;
  proc(filterSelectorAbout, &about, &data, &result);
  return result;
}

std::string Host::ErrorString() const {
  return std::string(reinterpret_cast<const char*>(errorString_ + 1), errorString_[0]);
}

Handle Host::NewHandle(const std::vector<uint8_t>& bytes) {
  auto obj = std::make_unique<HandleObject>();
  obj->bytes.assign(bytes.begin(), bytes.end());
  HandleObject* raw = obj.get();
  impl_->handles[raw] = std::move(obj);
  return reinterpret_cast<Handle>(raw);
}

std::vector<uint8_t> Host::HandleBytes(Handle h) const {
  auto it = impl_->handles.find(H(h));
  if (it == impl_->handles.end()) return {};
  return {it->second->bytes.begin(), it->second->bytes.end()};
}

void Host::DisposeHandle(Handle h) { impl_->handles.erase(H(h)); }
int32_t Host::LiveHandles() const { return static_cast<int32_t>(impl_->handles.size()); }
int32_t Host::LockedHandles() const {
  int32_t n = 0;
  for (const auto& [p, obj] : impl_->handles) n += obj->lockCount > 0;
  return n;
}
bool Host::IsLiveHandle(Handle h) const { return impl_->handles.count(H(h)) > 0; }

std::optional<std::vector<uint8_t>> Host::ParametersBytes() const {
  if (record_.parameters == nullptr || !IsLiveHandle(record_.parameters)) return std::nullopt;
  return HandleBytes(record_.parameters);
}

std::optional<std::vector<uint8_t>> Host::CallStateBytes() const {
  Handle h = reinterpret_cast<Handle>(dataWord_);
  if (h == nullptr || !IsLiveHandle(h)) return std::nullopt;
  return HandleBytes(h);
}

void Host::SetScriptingSettings(const std::vector<uint8_t>& block, int16_t playInfo) {
  PIDescriptorParameters& p = impl_->descriptorParameters;
  if (p.descriptor != nullptr) DisposeHandle(reinterpret_cast<Handle>(p.descriptor));
  p.descriptor = reinterpret_cast<PIDescriptorHandle>(NewHandle(EncodeDescriptor({{keyParameters, {typeText, block}}})));
  p.playInfo = playInfo;
}

void Host::SetPlayInfo(int16_t playInfo) { impl_->descriptorParameters.playInfo = playInfo; }
PIDescriptorParameters& Host::DescriptorParams() { return impl_->descriptorParameters; }

std::optional<std::vector<uint8_t>> Host::ScriptingSettings() const {
  const PIDescriptorParameters& p = impl_->descriptorParameters;
  if (p.descriptor == nullptr) return std::nullopt;
  for (const auto& [key, typed] : DecodeDescriptor(HandleBytes(reinterpret_cast<Handle>(p.descriptor))))
    if (key == keyParameters) return typed.second;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> Host::RegistrySettings(const std::string& key) const {
  auto it = impl_->registry.find(key);
  if (it == impl_->registry.end() || !it->second.data.count(keyParameters)) return std::nullopt;
  return it->second.data.at(keyParameters);
}

void Host::SetRegistrySettings(const std::string& key, const std::vector<uint8_t>& block) {
  impl_->registry[key] = {{{keyParameters, block}}, true};
}

bool Host::IsPersistent(const std::string& key) const {
  auto it = impl_->registry.find(key);
  return it != impl_->registry.end() && it->second.persistent;
}

// The registry file: one line per persistent entry, "key fourcc hexbytes".
bool Host::LoadRegistry(const std::string& path, std::string& error) {
  std::vector<uint8_t> file;
  switch (ReadRegularFile(path, file, error)) {
    case FileRead::kMissing:
      return true;  // no file yet: an empty registry
    case FileRead::kFailed:
      return false;
    case FileRead::kRead:
      break;
  }
  // Everything is read into a scratch registry first: a bad line leaves the
  // host's registry as it was.
  auto registry = impl_->registry;
  const auto isHex = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  };
  std::istringstream in(std::string(file.begin(), file.end()));
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    std::istringstream fields(line);
    std::string key, code, hex, extra;
    if (!(fields >> key >> code)) {
      error = where + "not a registry entry";
      return false;
    }
    // Exactly the eight hex digits the writer writes.
    if (code.size() != 8 || !isHex(code)) {
      error = where + "bad key code";
      return false;
    }
    fields >> hex;
    if (fields >> extra || hex.size() % 2 != 0 || !isHex(hex)) {
      error = where + "bad hex data";
      return false;
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
      bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    registry[key].data[static_cast<DescriptorKeyID>(std::stoul(code, nullptr, 16))] = bytes;
    registry[key].persistent = true;
  }
  impl_->registry = std::move(registry);
  return true;
}

bool Host::SaveRegistry(const std::string& path, std::string& error) const {
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  for (const auto& [key, entry] : impl_->registry) {
    if (!entry.persistent) continue;
    for (const auto& [code, bytes] : entry.data) {
      char head[16];
      std::snprintf(head, sizeof head, "%08x", code);
      out << key << ' ' << head << ' ';
      for (uint8_t b : bytes) {
        char h[3];
        std::snprintf(h, sizeof h, "%02x", b);
        out << h;
      }
      out << '\n';
    }
  }
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace standin
