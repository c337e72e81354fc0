#pragma once

#include <QString>
#include <QStringList>

#include "capture/CameraBackend.h"
#include "capture/V4l2Syscalls.h"

// Video4Linux devices: the capture nodes under the device folder, their USB ids from sysfs, MJPEG (or JPEG, or YUYV
// where that is all a device offers) streamed through memory-mapped buffers.
class V4l2CameraBackend : public CameraBackend
{
public:
    explicit V4l2CameraBackend(const QString& deviceDir = QStringLiteral("/dev"),
                               const QString& sysfsRoot = QStringLiteral("/sys"),
                               std::shared_ptr<V4l2Syscalls> syscalls = nullptr);

    int deviceCount() override;
    bool deviceIds(int index, int* vendorId, int* productId) override;
    QVector<ResolutionEntry> resolutions(int index, int list) override;
    std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) override;

    // The USB vendor and product of a video node ("video0"): sysfs links the node to its USB interface, whose
    // parent device holds idVendor and idProduct; the interface's modalias ("usb:v0EDCp2003...") is the fallback.
    static bool readUsbIds(const QString& sysfsRoot, const QString& nodeName, int* vendorId, int* productId);

private:
    QString nodePath(int index) const;

    QString m_deviceDir;
    QString m_sysfsRoot;
    std::shared_ptr<V4l2Syscalls> m_sys;
    QStringList m_nodes;
};
