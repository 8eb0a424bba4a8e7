// Basic types of the filter plug-in protocol, shared by the module and the
// stand-in host. Only what the module uses is declared.
#ifndef OVRA_PROTOCOL_PI_TYPES_H
#define OVRA_PROTOCOL_PI_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t OSErr;    // 16-bit protocol result code
typedef int32_t SPErr;    // 32-bit service result code
typedef uint8_t Boolean;  // 0 or 1
typedef uint32_t DescriptorKeyID;
typedef uint32_t DescriptorTypeID;
typedef int32_t Fixed;  // 16.16 fixed point

// A length-prefixed string of up to 255 characters.
typedef unsigned char Str255[256];

// Opaque host objects.
typedef struct OpaqueHandle* Handle;
typedef struct OpaqueBuffer* BufferID;
typedef struct OpaqueDescriptor* PIDescriptorHandle;
typedef struct OpaqueReadDescriptor* PIReadDescriptor;
typedef struct OpaqueWriteDescriptor* PIWriteDescriptor;
typedef struct OpaqueActionDescriptor* PIActionDescriptor;
typedef struct OpaquePluginRef* SPPluginRef;
typedef struct OpaqueChannelPort* PIChannelPort;

// Rectangles and points with 32-bit coordinates: top, left, bottom, right.
typedef struct VRect {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
} VRect;

typedef struct VPoint {
  int32_t v;
  int32_t h;
} VPoint;

// Result codes.
enum {
  noErr = 0,
  memFullErr = -108,
  userCanceledErr = -128,
  filterBadMode = -30101,  // the filter cannot work on this image mode or depth
  errPlugInHostInsufficient = -30900,
  errReportString = -30904,
};

// Service (32-bit) result codes.
enum {
  kSPNoError = 0,
  kSPSuiteNotFoundError = 0x53214e46,  // 'S!NF'
  kSPBadParameterError = 0x5061723f,   // 'Par?'
  kSPOutOfMemoryError = -108,
};

// Filter selectors.
enum {
  filterSelectorAbout = 0,
  filterSelectorParameters = 1,
  filterSelectorPrepare = 2,
  filterSelectorStart = 3,
  filterSelectorContinue = 4,
  filterSelectorFinish = 5,
};

// Image modes the module accepts.
enum {
  plugInModeRGBColor = 3,
  plugInModeRGB48 = 8,
};

// Channel types reported by the host's document information.
enum {
  ctRed = 1,
  ctGreen = 2,
  ctBlue = 3,
  ctTransparency = 0,
};

#define PI_FOURCC(a, b, c, d) \
  ((uint32_t)(a) << 24 | (uint32_t)(b) << 16 | (uint32_t)(c) << 8 | (uint32_t)(d))

enum {
  keyParameters = PI_FOURCC('p', 'a', 'r', 'M'),
  typeText = PI_FOURCC('T', 'E', 'X', 'T'),
  typeRawData = PI_FOURCC('t', 'd', 't', 'a'),
  hostSignature8BIM = PI_FOURCC('8', 'B', 'I', 'M'),
};

// Play information in the descriptor parameters.
enum {
  plugInDialogDontDisplay = 0,
  plugInDialogDisplay = 1,
  plugInDialogSilent = 2,
};

// Record information in the descriptor parameters.
enum {
  plugInDialogOptional = 0,
  plugInDialogRequired = 1,
  plugInDialogNone = 2,
};

#ifdef __cplusplus
}
#endif

#endif
