#pragma once

#include <memory>

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QVector>

#include "capture/CameraComponent.h"

// One opened device. After open, only the component's stream thread calls it.
class CameraStream
{
public:
    virtual ~CameraStream() = default;

    virtual bool start() = 0;
    virtual void stop() = 0;
    // Waits up to timeoutMs for the next live frame, delivered at size. False when none came in time.
    virtual bool nextFrame(QImage* frame, QSize size, int timeoutMs) = 0;
    // One still as JPEG bytes; empty when the device could not deliver one.
    virtual QByteArray captureStill() = 0;
    // True once the device has stopped delivering for good (unplugged, or failing): no frame or still will come.
    virtual bool lost() const { return false; }
};

// Where devices come from: the simulated document camera, the system's video devices, or a test's fake.
class CameraBackend
{
public:
    virtual ~CameraBackend() = default;

    // Looks the devices up again; indexes refer to this list until the next call.
    virtual int deviceCount() = 0;
    virtual bool deviceIds(int index, int* vendorId, int* productId) = 0;
    virtual QVector<ResolutionEntry> resolutions(int index, int list) = 0;
    virtual std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) = 0;
};

// The system's own devices (one implementation per platform).
std::unique_ptr<CameraBackend> createPlatformCameraBackend();

namespace CameraComponent {

// Replaces the backend chosen from the settings (tests); closes every open device first.
void setBackend(std::unique_ptr<CameraBackend> backend);

} // namespace CameraComponent
