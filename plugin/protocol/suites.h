// Named services of the filter plug-in protocol, acquired through the basic
// suite, and the document information with its channel lists.
#ifndef OVRA_PROTOCOL_SUITES_H
#define OVRA_PROTOCOL_SUITES_H

#include "pi_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Basic suite: acquire and release named services.
typedef struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
} SPBasicSuite;

#define kSPPluginsSuite "SP Plug-ins Suite"
#define kSPPluginsSuiteVersion 4

// A plug-in's file as the host knows it: a NUL-terminated path.
typedef struct SPPlatformFileSpecification {
  char path[300];
} SPPlatformFileSpecification;

typedef struct SPPluginsSuite4 {
  SPErr (*GetPluginFileSpecification)(SPPluginRef plugin, SPPlatformFileSpecification* file);
} SPPluginsSuite4;

// Pixel memory descriptor: how a channel's samples lie in memory.
typedef struct PixelMemoryDesc {
  void* data;
  int32_t rowBits;
  int32_t colBits;
  int32_t bitOffset;
  int32_t depth;
} PixelMemoryDesc;

// Source and destination rectangles of a scaled read.
typedef struct PSScaling {
  VRect sourceRect;
  VRect destinationRect;
} PSScaling;

#define kPSChannelPortsSuite "Photoshop ChannelPorts Suite for Plug-ins"
#define kPSChannelPortsSuiteVersion2 2

typedef struct PSChannelPortsSuite1 {
  // Reads rect (in/out: clipped to the channel) from level 0 into destination.
  SPErr (*ReadPixelsFromLevel)(PIChannelPort port, int32_t level, VRect* rect,
                               const PixelMemoryDesc* destination);
  // Writes rect of source to the channel's base level.
  SPErr (*WritePixelsToBaseLevel)(PIChannelPort port, const VRect* rect,
                           const PixelMemoryDesc* source);
  // Reads scaling->sourceRect resampled to scaling->destinationRect.
  SPErr (*ReadScaledPixels)(PIChannelPort port, VRect* readRect, const PSScaling* scaling,
                            const PixelMemoryDesc* destination);
} PSChannelPortsSuite1;

#define kPSBufferSuite "Photoshop Buffer Suite for Plug-ins"
#define kPSBufferSuiteVersion1 1

typedef struct PSBufferSuite1 {
  // Allocates *requestedSize bytes (at least minimumSize); null on failure.
  char* (*New)(uint32_t* requestedSize, uint32_t minimumSize);
  void (*Dispose)(char** buffer);
  uint32_t (*GetSize)(char* buffer);
  uint32_t (*GetSpace)(void);
} PSBufferSuite1;

#define kPSDescriptorRegistrySuite "61e608b0-40fd-11d1-8da3-00c04fd5f7ee"
#define kPSDescriptorRegistrySuiteVersion 1

typedef struct PSDescriptorRegistryProcs {
  SPErr (*Register)(const char* key, PIActionDescriptor descriptor, Boolean isPersistent);
  SPErr (*Erase)(const char* key);
  // Hands out a copy that the caller frees; null when nothing is registered.
  SPErr (*Get)(const char* key, PIActionDescriptor* descriptor);
} PSDescriptorRegistryProcs;

#define kPSActionDescriptorSuite "df135115-c769-11d0-8079-00c04fd7ec47"
#define kPSActionDescriptorSuiteVersion 2

typedef struct PSActionDescriptorProcs {
  SPErr (*Make)(PIActionDescriptor* descriptor);
  SPErr (*Free)(PIActionDescriptor descriptor);
  SPErr (*PutData)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t length,
                   const void* value);
  SPErr (*GetDataLength)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t* length);
  SPErr (*GetData)(PIActionDescriptor descriptor, DescriptorKeyID key, void* value);
} PSActionDescriptorProcs;

// Document information: the channels of the document being filtered.
typedef struct ReadChannelDesc {
  int32_t minVersion;
  int32_t maxVersion;
  struct ReadChannelDesc* next;
  PIChannelPort port;
  VRect bounds;
  int32_t depth;
  VPoint tileSize;
  VPoint tileOrigin;
  Boolean target;
  Boolean shown;
  int16_t channelType;
  void* contextInfo;
  const char* name;
  PIChannelPort writePort;
} ReadChannelDesc;

typedef struct ReadImageDocumentDesc {
  int32_t minVersion;
  int32_t maxVersion;
  int32_t imageMode;
  int32_t depth;
  VRect bounds;
  Fixed hResolution;
  Fixed vResolution;
  ReadChannelDesc* targetCompositeChannels;
  ReadChannelDesc* alphaChannels;
} ReadImageDocumentDesc;

#ifdef __cplusplus
}
#endif

#endif
