#pragma once

#include "capture/CameraBackend.h"

// A simulated document camera (vendor 0x0EDC, product 0x2003) for demonstrations and tests: its live video shows
// an answer sheet with a running clock and frame counter, and its stills are JPEG photographs of the sheet made on
// the stream thread, as a real camera library delivers them. With the scripted desk it shows sheets laid down and
// taken away by a hand instead (ScriptedDesk::demo()), and photographs what lies there.
class VirtualCameraBackend : public CameraBackend
{
public:
    explicit VirtualCameraBackend(int deviceCount = 1, bool scriptedDesk = false);

    int deviceCount() override;
    bool deviceIds(int index, int* vendorId, int* productId) override;
    QVector<ResolutionEntry> resolutions(int index, int list) override;
    std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) override;

    static constexpr int kVendorId = 0x0EDC;
    static constexpr int kProductId = 0x2003;

private:
    int m_deviceCount;
    bool m_scriptedDesk;
};
