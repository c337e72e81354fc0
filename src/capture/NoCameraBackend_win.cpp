#include "capture/CameraBackend.h"

namespace {

// The document camera's vendor library is not shipped with this program, so on Windows only the simulated camera
// is available; a backend for the vendor library takes this file's place.
class NoCameraBackend : public CameraBackend
{
public:
    int deviceCount() override { return 0; }
    bool deviceIds(int, int*, int*) override { return false; }
    QVector<ResolutionEntry> resolutions(int, int) override { return {}; }
    std::unique_ptr<CameraStream> open(int, const CameraOpenParams&) override { return nullptr; }
};

} // namespace

std::unique_ptr<CameraBackend> createPlatformCameraBackend()
{
    return std::make_unique<NoCameraBackend>();
}
