#pragma once

#include <QtGui/qwindowdefs.h>

class QImage;

// The document camera's operations as the capture page uses them. Devices are addressed by a 0-based index; every
// result is an int (non-zero for success where a result matters). Calls are made on the GUI thread; the still
// callback runs on the component's own stream thread.

// One entry of a resolution list. Format 0 is MJPEG, format 1 uncompressed YUYV.
struct ResolutionEntry
{
    int format;
    int width;
    int height;
};

// Receives one still as the bytes of a JPEG image. The bytes are valid only during the call.
using StillCallback = void (*)(unsigned char* data, int length);

// Told that the playing device at index stopped delivering (unplugged, or failing); runs on the stream thread. The
// device stays open, no longer playing, until it is stopped and closed.
using DeviceLostCallback = void (*)(int index);

// Shown each live frame as it is painted, on the GUI thread (the frame as painted, at the video rectangle's size).
using PreviewFrameCallback = void (*)(int index, const QImage& frame);

// The open parameter block, 13 fields in this order.
struct CameraOpenParams
{
    int videoWidth; // live video mode
    int videoHeight;
    int videoFormat;
    int bufferCount; // capture buffers the driver streams through (at least 2 are used)
    int mirror;      // reserved, 0
    int reserved;    // never read
    int preview;     // 1: draw live frames into the video window
    int stillWidth;  // still mode
    int stillHeight;
    int stillFormat;
    int rotation;      // reserved, 0
    int stillsEnabled; // 1: hStillTrigger delivers stills
    StillCallback stillCallback;
};

int hEnumVideoDevice();
int hGetVideoDeviceVIDPID(int index, int* vendorId, int* productId);
// list 0: live video modes, list 1: still modes. With entries null only count is set; otherwise up to count
// entries are filled and count is set to the number written.
int hQuerySupportResolutionAndFormat(int index, int list, ResolutionEntry* entries, int* count);
int hOpenCameraDevice(int index, CameraOpenParams params);
// Live frames are painted inside the native widget behind window; 0 detaches the video.
int hSetVideoWindow(int index, WId window);
int hSetVideoWindowPosition(int index, int x, int y, int width, int height);
int hPlay(int index);
int hStop(int index);
int hCloseCameraDevice(int index);
int hFreeVideoDevice();
int hStillTrigger(int index);
// One callback for every device; null: nobody is told.
int hSetDeviceLostCallback(DeviceLostCallback callback);
// One callback for every device; null: nobody is shown the frames.
int hSetPreviewFrameCallback(PreviewFrameCallback callback);
