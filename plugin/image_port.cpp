#include "plugin/image_port.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/errors.h"
#include "framework/memory.h"
#include "imaging/resample.h"
#include "plugin/host_access.h"

namespace ps {
namespace {

constexpr Fixed kFixedOne = 0x10000;

VRect ToVRect(const fx::Rect& r) { return {r.top, r.left, r.bottom, r.right}; }

// Bytes per sample of the host's own planes: the document's depth, 0 when
// the module cannot transfer it. A depth of 0 is a host that gives none: 8.
int32_t HostSampleBytes(const FilterRecord& record) {
  switch (record.depth) {
    case 0:
    case 8:
      return 1;
    case 16:
      return 2;
    default:
      return 0;
  }
}

// One sample between depths: 8 to 16 bits as everywhere in the module,
// 16 to 8 bits rounded (the 8-bit preview of a 16-bit document).
template <class From, class To>
To ConvertSample(From v) {
  if constexpr (sizeof(From) == sizeof(To)) {
    return v;
  } else if constexpr (sizeof(To) == 2) {
    return static_cast<To>(v * 128.5 + 0.5);
  } else {
    return static_cast<To>((std::min<int32_t>(v, 32768) * 255 + 16384) / 32768);
  }
}

// R, G, B of count pixels from in (inChannels samples a pixel) to out
// (outChannels); a fourth output channel is set to 255. Host planes need not
// be aligned for 16-bit samples, so samples move through memcpy.
template <class From, class To>
void MovePixels(const uint8_t* in, int32_t inChannels, uint8_t* out, int32_t outChannels, int32_t count) {
  for (int32_t x = 0; x < count; ++x, in += inChannels * sizeof(From), out += outChannels * sizeof(To)) {
    for (int c = 0; c < 3; ++c) {
      From v;
      std::memcpy(&v, in + c * sizeof(From), sizeof v);
      const To t = ConvertSample<From, To>(v);
      std::memcpy(out + c * sizeof(To), &t, sizeof t);
    }
    if (outChannels == 4) {
      const To a = 255;
      std::memcpy(out + 3 * sizeof(To), &a, sizeof a);
    }
  }
}

void MovePixels(const uint8_t* in, int32_t inBytes, int32_t inChannels, uint8_t* out, int32_t outBytes,
                int32_t outChannels, int32_t count) {
  const auto to = [&]<class From>() {
    if (outBytes == 2)
      MovePixels<From, uint16_t>(in, inChannels, out, outChannels, count);
    else
      MovePixels<From, uint8_t>(in, inChannels, out, outChannels, count);
  };
  if (inBytes == 2)
    to.template operator()<uint16_t>();
  else
    to.template operator()<uint8_t>();
}

// Rows of the host image, read through advance-state in bands of 512 rows
// (fallback path of the scaled read).
class PSImageInterface final : public fx::RowImage {
 public:
  explicit PSImageInterface(FilterRecord* record) : record_(record) {}
  int32_t Channels() const override { return 4; }
  int32_t BytesPerSample() const override { return 1; }
  void Size(int32_t& width, int32_t& height) const override {
    width = record_->imageSize.h;
    height = record_->imageSize.v;
  }
  void ReadRow(int32_t row, int32_t left, int32_t count, void* out) override {
    if (row < bandTop_ || row >= bandTop_ + bandRows_ || left != bandLeft_ || count != bandCount_) {
      bandTop_ = row;
      bandRows_ = std::min(kBandHeight, record_->imageSize.v - row);
      bandLeft_ = left;
      bandCount_ = count;
      record_->inRect = {row, left, row + bandRows_, left + count};
      record_->inLoPlane = 0;
      record_->inHiPlane = 2;
      record_->outRect = {};
      record_->inputRate = kFixedOne;
      if (record_->advanceState == nullptr) fx::ThrowServiceError(kSPSuiteNotFoundError);
      if (OSErr e = record_->advanceState(); e != noErr) fx::ThrowOSErr(e);
    }
    const auto* in = static_cast<const uint8_t*>(record_->inData) +
                     static_cast<std::ptrdiff_t>(row - bandTop_) * record_->inRowBytes;
    MovePixels(in, HostSampleBytes(*record_), 3, static_cast<uint8_t*>(out), 1, 4, count);
  }
  void WriteRow(int32_t, int32_t, int32_t, const void*) override {}

 private:
  static constexpr int32_t kBandHeight = 512;
  FilterRecord* record_;
  int32_t bandTop_ = 0;
  int32_t bandRows_ = 0;
  int32_t bandLeft_ = -1;
  int32_t bandCount_ = -1;
};

// Rows written into a tile buffer.
class BufferInterface final : public fx::RowImage {
 public:
  explicit BufferInterface(TileBuffer& buffer) : buffer_(buffer) {}
  int32_t Channels() const override { return 4; }
  int32_t BytesPerSample() const override { return 1; }
  void Size(int32_t& width, int32_t& height) const override {
    width = buffer_.Width();
    height = buffer_.Height();
  }
  void ReadRow(int32_t, int32_t, int32_t, void*) override {}
  void WriteRow(int32_t row, int32_t byteOffset, int32_t count, const void* in) override {
    std::memcpy(buffer_.data + static_cast<std::ptrdiff_t>(row) * buffer_.rowBytes + byteOffset, in,
                static_cast<std::size_t>(count) * 4);
  }

 private:
  TileBuffer& buffer_;
};

int32_t CountChannels(const ReadChannelDesc* list) {
  int32_t n = 0;
  for (; list != nullptr; list = list->next) ++n;
  return n;
}

}  // namespace

fx::RasterRef TileBuffer::Wrap() const {
  return fx::RasterRef::Adopt(fx::Raster::Create(Width(), Height(), 4,
                                                 static_cast<uint32_t>(bytesPerSample), rowBytes,
                                                 data));
}

void TileBuffer::Clear() {
  if (data != nullptr) std::memset(data, 0, size);
}

HostImagePort::HostImagePort(FilterRecord* record) : record_(record) {
  if (const ReadImageDocumentDesc* doc = record->documentInfo) {
    channelCount_ = CountChannels(doc->targetCompositeChannels);
    if (channelCount_ == 0) channelCount_ = CountChannels(doc->alphaChannels);
  } else {
    channelCount_ = record->planes;
  }
  SuiteRef<PSBufferSuite1> buffers(record->sSPBasic, kPSBufferSuite, kPSBufferSuiteVersion1);
  useChannelPorts_ = static_cast<bool>(buffers);
}

HostImagePort::~HostImagePort() = default;

ReadChannelDesc* HostImagePort::Channels() const {
  const ReadImageDocumentDesc* doc = record_->documentInfo;
  if (doc == nullptr) return nullptr;
  return doc->targetCompositeChannels != nullptr ? doc->targetCompositeChannels : doc->alphaChannels;
}

TileBuffer* HostImagePort::Allocate(const fx::Rect& rect, int32_t channels, int32_t bytesPerSample,
                                    int16_t imageMode) {
  // Every transfer starts with a buffer: a depth the module cannot move is
  // refused here, before any pixel is read or written.
  if (HostSampleBytes(*record_) == 0 || (bytesPerSample != 1 && bytesPerSample != 2))
    fx::ThrowOSErr(filterBadMode);
  if (channels == 3) channels = 4;
  const int64_t size64 = static_cast<int64_t>(std::max(0, rect.Height())) * std::max(0, rect.Width()) *
                         bytesPerSample * channels;
  if (size64 > INT32_MAX) fx::ThrowOSErr(memFullErr);
  const uint32_t size = static_cast<uint32_t>(size64);
  TileBuffer* buffer = nullptr;
  try {
    buffer = fx::New<TileBuffer>();
  } catch (const std::bad_alloc&) {
    fx::ThrowOSErr(memFullErr);
  }
  buffer->owner = this;
  buffer->rect = {0, 0, rect.Height(), rect.Width()};
  buffer->bytesPerSample = bytesPerSample;
  buffer->pixelBytes = channels * bytesPerSample;
  buffer->rowBytes = rect.Width() * buffer->pixelBytes;
  buffer->imageMode = imageMode;
  buffer->size = size;
  const uint32_t request = std::max<uint32_t>(size, 1);
  if (useChannelPorts_) {
    SuiteRef<PSBufferSuite1> suite(record_->sSPBasic, kPSBufferSuite, kPSBufferSuiteVersion1);
    if (!suite) {
      fx::Destroy(buffer);
      fx::ThrowServiceError(suite.error());
    }
    uint32_t requested = request;
    buffer->suiteBuffer = suite->New(&requested, request);
    buffer->data = reinterpret_cast<uint8_t*>(buffer->suiteBuffer);
  } else if (record_->bufferProcs != nullptr && record_->bufferProcs->allocateProc != nullptr) {
    if (record_->bufferProcs->allocateProc(static_cast<int32_t>(request), &buffer->hostBufferId) == noErr &&
        buffer->hostBufferId != nullptr)
      buffer->data = reinterpret_cast<uint8_t*>(record_->bufferProcs->lockProc(buffer->hostBufferId, 0));
  }
  if (buffer->data == nullptr) {
    Release(buffer);
    fx::ThrowOSErr(memFullErr);
  }
  std::memset(buffer->data, 0, size);
  for (int k = 0; k < 4; ++k) {
    ChannelDesc& c = buffer->channels[k];
    c.memory.data = buffer->data + k * bytesPerSample;
    c.memory.rowBits = buffer->rowBytes * 8;
    c.memory.colBits = buffer->pixelBytes * 8;
    c.memory.bitOffset = 0;
    c.memory.depth = bytesPerSample * 8;
    c.channelType = 0;
  }
  bytesInUse_ += size;
  return buffer;
}

void HostImagePort::Release(TileBuffer* buffer) {
  if (buffer == nullptr) return;
  if (buffer->suiteBuffer != nullptr) {
    SuiteRef<PSBufferSuite1> suite(record_->sSPBasic, kPSBufferSuite, kPSBufferSuiteVersion1);
    if (suite) suite->Dispose(&buffer->suiteBuffer);
    bytesInUse_ -= buffer->size;
  } else if (buffer->hostBufferId != nullptr) {
    if (buffer->data != nullptr) {
      record_->bufferProcs->unlockProc(buffer->hostBufferId);
      bytesInUse_ -= buffer->size;
    }
    record_->bufferProcs->freeProc(buffer->hostBufferId);
  }
  fx::Destroy(buffer);
}

void HostImagePort::Request(const fx::Rect& inputRect, const fx::Rect& outputRect) {
  if (useChannelPorts_) return;
  record_->inRect = ToVRect(inputRect);
  record_->outRect = ToVRect(outputRect);
  record_->inLoPlane = 0;
  record_->inHiPlane = 2;
  record_->outLoPlane = 0;
  record_->outHiPlane = 2;
  if (record_->advanceState == nullptr) fx::ThrowServiceError(kSPSuiteNotFoundError);
  if (OSErr e = record_->advanceState(); e != noErr) fx::ThrowOSErr(e);
}

void HostImagePort::FallbackCopyIn(TileBuffer& buffer, int32_t rows, int32_t columns) {
  if (record_->inData == nullptr) return;
  rows = std::min(rows, buffer.Height());
  columns = std::min(columns, buffer.Width());
  const int32_t hostBytes = HostSampleBytes(*record_);
  for (int32_t y = 0; y < rows; ++y) {
    const auto* in = static_cast<const uint8_t*>(record_->inData) +
                     static_cast<std::ptrdiff_t>(y) * record_->inRowBytes;
    uint8_t* out = buffer.data + static_cast<std::ptrdiff_t>(y) * buffer.rowBytes;
    MovePixels(in, hostBytes, 3, out, buffer.bytesPerSample, 4, columns);
  }
}

void HostImagePort::Read(TileBuffer& buffer, const fx::Rect& rect) {
  if (!useChannelPorts_) {
    FallbackCopyIn(buffer, rect.Height(), rect.Width());
    return;
  }
  SuiteRef<PSChannelPortsSuite1> ports(record_->sSPBasic, kPSChannelPortsSuite,
                                       kPSChannelPortsSuiteVersion2);
  const PSChannelPortsSuite1& suite = ports.Require();
  int k = 0;
  for (ReadChannelDesc* ch = Channels(); ch != nullptr && k < 4; ch = ch->next, ++k) {
    buffer.channels[k].channelType = ch->channelType;
    VRect r = ToVRect(rect);
    if (SPErr e = suite.ReadPixelsFromLevel(ch->port, 0, &r, &buffer.channels[k].memory); e != kSPNoError)
      fx::ThrowServiceError(e);
  }
}

void HostImagePort::Write(const TileBuffer& buffer, const fx::Rect& outputRect, int32_t offsetRows,
                          int32_t offsetColumns) {
  const std::ptrdiff_t offset =
      static_cast<std::ptrdiff_t>(offsetRows) * buffer.rowBytes + static_cast<std::ptrdiff_t>(offsetColumns) * buffer.pixelBytes;
  if (!useChannelPorts_) {
    if (record_->outData == nullptr) return;
    const int32_t hostBytes = HostSampleBytes(*record_);
    for (int32_t y = 0; y < outputRect.Height(); ++y) {
      const uint8_t* in = buffer.data + offset + static_cast<std::ptrdiff_t>(y) * buffer.rowBytes;
      auto* out = static_cast<uint8_t*>(record_->outData) + static_cast<std::ptrdiff_t>(y) * record_->outRowBytes;
      MovePixels(in, buffer.bytesPerSample, 4, out, hostBytes, 3, outputRect.Width());
    }
    return;
  }
  SuiteRef<PSChannelPortsSuite1> ports(record_->sSPBasic, kPSChannelPortsSuite,
                                       kPSChannelPortsSuiteVersion2);
  const PSChannelPortsSuite1& suite = ports.Require();
  int k = 0;
  for (ReadChannelDesc* ch = Channels(); ch != nullptr && k < 4; ch = ch->next, ++k) {
    PixelMemoryDesc desc = buffer.channels[k].memory;
    desc.data = static_cast<uint8_t*>(desc.data) + offset;
    const VRect r = ToVRect(outputRect);
    if (SPErr e = suite.WritePixelsToBaseLevel(ch->writePort, &r, &desc); e != kSPNoError)
      fx::ThrowServiceError(e);
  }
}

void HostImagePort::ReadScaled(TileBuffer& buffer, const fx::Rect& sourceRect,
                               const fx::Rect& destinationRect) {
  if (useChannelPorts_) {
    SuiteRef<PSChannelPortsSuite1> ports(record_->sSPBasic, kPSChannelPortsSuite,
                                         kPSChannelPortsSuiteVersion2);
    const PSChannelPortsSuite1& suite = ports.Require();
    PSScaling scaling{ToVRect(sourceRect), ToVRect(destinationRect)};
    int k = 0;
    for (ReadChannelDesc* ch = Channels(); ch != nullptr && k < 4; ch = ch->next, ++k) {
      buffer.channels[k].channelType = ch->channelType;
      VRect r = scaling.sourceRect;
      if (SPErr e = suite.ReadScaledPixels(ch->port, &r, &scaling, &buffer.channels[k].memory); e != kSPNoError)
        fx::ThrowServiceError(e);
    }
    return;
  }
  if (sourceRect.Width() == destinationRect.Width() && sourceRect.Height() == destinationRect.Height()) {
    record_->inputRate = kFixedOne;
    Request(sourceRect, {});
    FallbackCopyIn(buffer, sourceRect.Height(), sourceRect.Width());
    return;
  }
  if (sourceRect.Empty() || destinationRect.Empty()) return;
  PSImageInterface source(record_);
  BufferInterface destination(buffer);
  const fx::ResampleFilter* triangle = fx::FindFilter("triangle");
  fx::Scale(source, {sourceRect.left, sourceRect.top, sourceRect.right - 1, sourceRect.bottom - 1},
            destination, {0, 0, destinationRect.Width() - 1, destinationRect.Height() - 1}, *triangle,
            *triangle);
}

}  // namespace ps
