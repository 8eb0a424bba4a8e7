// The filter record the host passes to every call of a filter's entry point,
// with its callbacks, descriptor parameters and platform data.
#ifndef OVRA_PROTOCOL_FILTER_RECORD_H
#define OVRA_PROTOCOL_FILTER_RECORD_H

#include "pi_types.h"
#include "suites.h"

#ifdef __cplusplus
extern "C" {
#endif

// Handle callbacks: relocatable memory blocks owned by the host.
typedef struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  Handle (*newProc)(int32_t size);
  void (*disposeProc)(Handle h);
  int32_t (*getSizeProc)(Handle h);
  OSErr (*setSizeProc)(Handle h, int32_t newSize);
  char* (*lockProc)(Handle h, Boolean moveHigh);
  void (*unlockProc)(Handle h);
} HandleProcs;

// Buffer callbacks: scratch memory from the host's allocator.
typedef struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  OSErr (*allocateProc)(int32_t size, BufferID* bufferID);
  char* (*lockProc)(BufferID bufferID, Boolean moveHigh);
  void (*unlockProc)(BufferID bufferID);
  void (*freeProc)(BufferID bufferID);
  int32_t (*spaceProc)(void);
} BufferProcs;

// Reading a descriptor: open with the keys wanted, walk them, close.
typedef struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  PIReadDescriptor (*openReadDescriptorProc)(PIDescriptorHandle descriptor,
                                             const DescriptorKeyID* keyArray);
  OSErr (*closeReadDescriptorProc)(PIReadDescriptor token);
  Boolean (*getKeyProc)(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type,
                        int32_t* flags);
  // Hands out a new handle holding the text; the caller disposes of it.
  OSErr (*getTextProc)(PIReadDescriptor token, Handle* text);
} ReadDescriptorProcs;

// Writing a descriptor: open, put values, close into a new descriptor.
typedef struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  PIWriteDescriptor (*openWriteDescriptorProc)(void);
  OSErr (*closeWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* descriptor);
  // Copies the handle's bytes; the caller keeps the handle.
  OSErr (*putTextProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle text);
} WriteDescriptorProcs;

typedef struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
} PIDescriptorParameters;

// Native window operations the host offers for parenting modal dialogs. The
// context is the host's own; a null operation is simply not called.
typedef struct NativeWindowOps {
  void* context;
  // Makes the window a child window (clip siblings and children).
  void (*setChildStyle)(void* context, intptr_t window);
  void (*setParent)(void* context, intptr_t child, intptr_t parent);
  void (*enableWindow)(void* context, intptr_t window, Boolean enable);
  intptr_t (*getFocus)(void* context);
  void (*setFocus)(void* context, intptr_t window);
  void (*setActiveWindow)(void* context, intptr_t window);
  void (*bringWindowToTop)(void* context, intptr_t window);
} NativeWindowOps;

typedef struct PlatformData {
  intptr_t hwnd;  // the host's window, 0 when it has none
  const NativeWindowOps* windowOps;
} PlatformData;

// An 8-bit RGB(A) image the host draws for the module.
typedef struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
} PSPixelMap;

typedef OSErr (*DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                   int32_t dstCol, void* platformContext);
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef OSErr (*AdvanceStateProc)(void);

typedef struct FilterRecord {
  // Set by the host for every call.
  Handle parameters;  // the module's settings between selectors; owned by the host
  VPoint imageSize;   // size of the whole document
  int16_t planes;
  VRect filterRect;  // area to filter
  int16_t imageMode;
  int32_t depth;  // bits per sample: 8 or 16
  uint32_t hostSig;

  // Output tile the host prefers; 0 x 0 when it has none.
  VPoint outTileOrigin;
  VPoint outTileSize;

  // Interleaved transfer: the module sets rectangles and planes, then calls
  // advanceState; the host fills the data pointers and strides.
  VRect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  VRect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  VRect maskRect;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Fixed inputRate;
  AdvanceStateProc advanceState;

  TestAbortProc abortProc;
  ProgressProc progressProc;
  HandleProcs* handleProcs;
  BufferProcs* bufferProcs;
  DisplayPixelsProc displayPixels;

  PIDescriptorParameters* descriptorParameters;
  Str255* errorString;  // length-prefixed message for errReportString

  ReadImageDocumentDesc* documentInfo;
  SPBasicSuite* sSPBasic;
  SPPluginRef plugInRef;
  void* platformData;  // PlatformData*
} FilterRecord;

// The record passed with the about selector.
typedef struct AboutRecord {
  void* platformData;  // PlatformData*
  SPBasicSuite* sSPBasic;
  SPPluginRef plugInRef;
} AboutRecord;

// Every entry point has this shape. The parameter block is a FilterRecord,
// or an AboutRecord for the about selector.
typedef void (*PluginMainProc)(int32_t selector, void* pluginParamBlock, intptr_t* data,
                               int16_t* result);

#ifdef __cplusplus
}
#endif

#endif
