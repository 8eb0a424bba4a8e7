// The stand-in host: the filter plug-in protocol implemented over in-memory
// documents, for the ovra-host command line and for tests. One Host is active
// at a time (the protocol's callbacks carry no context).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/document.h"
#include "host/row_backup.h"
#include "plugin/protocol/filter_record.h"

namespace standin {

class Module;

// Faults and choices a run can switch on.
struct HostOptions {
  bool noBasicSuite = false;              // the record carries no basic suite
  std::set<std::string> missingSuites;    // named services the host refuses
  bool noDescriptorParameters = false;    // no descriptor parameters at all
  int32_t handlesBeforeFailure = -1;      // new-handle calls that succeed; -1: all
  int32_t abortAfterTiles = -1;           // abort reported once this many tiles are done
  bool interleaved = false;               // offer no buffer suite: the advance-state path
  int32_t tileRows = 256;                 // output tile height; 0: the host gives no tile size
  uint32_t hostSignature = hostSignature8BIM;
  bool noPluginsSuiteAnswer = false;      // the plug-ins service cannot name the module
  std::string pluginsSuiteAnswer;         // the path it names; empty: the module's file
};

// Pixels kept outside the host (an editor's layer), moved by rectangles
// that lie inside the document: samples interleaved R, G, B at the
// document's depth and scale, rows top-down.
class PixelStore {
 public:
  virtual ~PixelStore() = default;
  // The source as it was when the filter began.
  virtual void ReadSource(const VRect& r, uint16_t* samples) = 0;
  // The result as written so far (the source where nothing was written).
  virtual void ReadResult(const VRect& r, uint16_t* samples) = 0;
  virtual void WriteResult(const VRect& r, const uint16_t* samples) = 0;
};

// A descriptor's values: four-character key to (type, bytes).
using DescriptorValues = std::vector<std::pair<DescriptorKeyID, std::pair<DescriptorTypeID, std::vector<uint8_t>>>>;

class Host {
 public:
  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  HostOptions& Options() { return options_; }
  FilterRecord& Record() { return record_; }

  // The document the filter works on; the filter area is the whole document
  // unless SetFilterRect narrows it. As a real host does, the filter reads
  // the document as it was when its start selector began and writes into
  // the result, so bands that overlap read unfiltered pixels.
  void SetDocument(Document doc);
  Document& Doc() { return document_; }
  // The rows the filter has overwritten since its start selector began, as
  // they were: with the document, the source it reads.
  RowBackup& Backup() { return backup_; }
  void SetFilterRect(const VRect& r);
  // A document of that size and depth whose pixels stay in `store` (not
  // owned): the filter reads and writes them there, rectangle by rectangle,
  // and Doc() holds no samples. SetDocument ends it.
  void SetPixelStore(PixelStore* store, int32_t width, int32_t height, int32_t depth);
  PixelStore* Store() const { return store_; }

  // One call of an entry point with this host's record and data word.
  int16_t Call(const Module& module, const std::string& entry, int32_t selector);
  // A call of an entry point already at hand (a module linked in).
  int16_t Call(PluginMainProc proc, int32_t selector);
  // Shapes the record as for a call (suites, descriptor parameters, tile
  // size), for code that uses the record directly.
  void PrepareRecord(const std::string& pluginPath = "");
  // The about selector with an about record.
  int16_t CallAbout(const Module& module, const std::string& entry);

  // The data word the host keeps for the module between calls.
  intptr_t& DataWord() { return dataWord_; }

  // The message in the error string (its length byte respected).
  std::string ErrorString() const;
  uint8_t ErrorStringLength() const { return errorString_[0]; }
  void ClearErrorString() { errorString_[0] = 0; }

  // Handles.
  Handle NewHandle(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> HandleBytes(Handle h) const;
  void DisposeHandle(Handle h);
  int32_t LiveHandles() const;
  int32_t LockedHandles() const;
  bool IsLiveHandle(Handle h) const;
  // The parameters handle's bytes, or nothing.
  std::optional<std::vector<uint8_t>> ParametersBytes() const;
  // The call-state block behind the data word, or nothing.
  std::optional<std::vector<uint8_t>> CallStateBytes() const;

  // The scripting descriptor: settings under 'parM' as text.
  void SetScriptingSettings(const std::vector<uint8_t>& block, int16_t playInfo);
  std::optional<std::vector<uint8_t>> ScriptingSettings() const;
  void SetPlayInfo(int16_t playInfo);
  PIDescriptorParameters& DescriptorParams();

  // The descriptor registry.
  std::optional<std::vector<uint8_t>> RegistrySettings(const std::string& key) const;
  void SetRegistrySettings(const std::string& key, const std::vector<uint8_t>& block);
  bool IsPersistent(const std::string& key) const;
  bool LoadRegistry(const std::string& path, std::string& error);
  bool SaveRegistry(const std::string& path, std::string& error) const;

  // What the module did.
  std::vector<std::pair<int32_t, int32_t>> progress;  // (done, total) per report
  std::function<void(int32_t, int32_t)> onProgress;   // called at each report
  int32_t advanceStateCalls = 0;
  std::vector<VRect> requestedInputRects;  // inRect at each advance-state
  std::vector<std::string> windowCalls;   // native window operations, in order
  int32_t displayPixelsCalls = 0;
  int64_t scaledReadPixels = 0;   // pixels delivered by scaled reads
  int64_t fullReadPixels = 0;     // pixels delivered by unscaled reads
  int32_t bufferSuiteBuffersLive = 0;
  int32_t bufferProcsBuffersLive = 0;

  // A fake window of the host, for the dialog bridge.
  intptr_t Window() const { return 0x1000; }

  // Internal, for the C callbacks.
  static Host* Active();
  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  HostOptions options_;
  FilterRecord record_{};
  // The document as the start selector began: the rows saved since
  // forgotten, the document as it stands now taken for the source.
  void BeginSource();
  Document document_;
  RowBackup backup_;
  PixelStore* store_ = nullptr;
  Str255 errorString_{};
  intptr_t dataWord_ = 0;
  std::string pluginPath_;
  std::unique_ptr<Impl> impl_;
  friend struct Impl;
};

}  // namespace standin
