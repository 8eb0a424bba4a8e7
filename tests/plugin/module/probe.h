// What the test module lets its tests observe: exported, C linkage, shared
// by the test module and the test executable.
#pragma once

#include <stdint.h>

extern "C" {

struct OvraTestRenderCall {
  int32_t effect;  // 0 BleachBypass, 1 Margins, 2 Recorder
  int32_t areaTop, areaLeft, areaBottom, areaRight;
  int32_t outTop, outLeft, outBottom, outRight;
  int32_t tileIndex, tileCount;
  int32_t rasterWidth, rasterHeight;
  int32_t imageWidth, imageHeight;
  float scale;
  int32_t isPreview;
  int32_t is16Bit;
};

struct OvraTestProbe {
  int32_t dialogCalls;
  int32_t dialogAccepts;      // 1: the scripted dialog accepts, 0: cancels
  double dialogSetsAmount;    // the scripted dialog writes this into "amount" (NaN: nothing)
  int32_t aboutCalls;
  int32_t beginRenderCalls;
  int32_t expandCalls;
  int32_t renderCallCount;
  OvraTestRenderCall renderCalls[4096];
};

typedef OvraTestProbe* (*OvraTestProbeProc)(void);
typedef void* (*OvraTestPreviewOpenProc)(void* record, const char* registryName);
typedef int32_t (*OvraTestPreviewRenderProc)(void* preview, int32_t top, int32_t left, int32_t bottom,
                                             int32_t right, float zoom, uint8_t* out, int32_t rowBytes,
                                             int32_t dragging);
typedef void (*OvraTestPreviewCloseProc)(void* preview);
typedef const char* (*OvraTestTextProc)(void);
typedef int32_t (*OvraTestIntProc)(void);
}
