#pragma once

#include <memory>

#include "capture/CameraBackend.h"

class ScriptedDesk;

// A simulated document camera (vendor 0x0EDC, product 0x2003) for demonstrations and tests: its live video shows
// an answer sheet with a running clock and frame counter, and its stills are JPEG photographs of the sheet made on
// the stream thread, as a real camera library delivers them. With the scripted desk it shows sheets laid down and
// taken away by a hand instead (ScriptedDesk::demo(), or a script of the caller's), and photographs what lies there.
// The desk plays, and the frames come, at the program's clock (Clock::current()), so that a test clock moved on
// plays the desk in no time.
class VirtualCameraBackend : public CameraBackend
{
public:
    explicit VirtualCameraBackend(int deviceCount = 1, bool scriptedDesk = false,
                                  std::shared_ptr<const ScriptedDesk> script = nullptr);

    int deviceCount() override;
    bool deviceIds(int index, int* vendorId, int* productId) override;
    QVector<ResolutionEntry> resolutions(int index, int list) override;
    std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) override;

    static constexpr int kVendorId = 0x0EDC;
    static constexpr int kProductId = 0x2003;

private:
    int m_deviceCount;
    bool m_scriptedDesk;
    std::shared_ptr<const ScriptedDesk> m_script;
};
